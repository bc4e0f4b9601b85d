// Draws Tessera's icon, a tile of a mosaic with a seal, from one description into the SVG and
// the PNG sizes that are committed under resources/icons. Run it after changing the design:
//   make-icon <output folder>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

// The design on a 256 x 256 canvas.
struct Tile {
    double X, Y, W, H, Radius;
    const char* Fill;
};

const Tile Background{8, 8, 240, 240, 44, "#1f4e5f"};
const std::vector<Tile> Tiles = {
    {40, 40, 84, 84, 12, "#f2c14e"},
    {132, 40, 84, 84, 12, "#e8eef0"},
    {40, 132, 84, 84, 12, "#7fc8c2"},
    {132, 132, 84, 84, 12, "#e8eef0"},
};
// The seal: a disc with a check mark, over the lower right tile.
constexpr double SealX = 176, SealY = 176, SealR = 58;
const char* const SealFill = "#d1495b";
const char* const SealRing = "#ffffff";
const QList<QPointF> Check = {{150, 178}, {170, 198}, {204, 158}};

void Draw(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(Background.Fill));
    p.drawRoundedRect(QRectF(Background.X, Background.Y, Background.W, Background.H), Background.Radius,
                      Background.Radius);
    for (const Tile& t : Tiles) {
        p.setBrush(QColor(t.Fill));
        p.drawRoundedRect(QRectF(t.X, t.Y, t.W, t.H), t.Radius, t.Radius);
    }
    p.setBrush(QColor(SealFill));
    p.setPen(QPen(QColor(SealRing), 10));
    p.drawEllipse(QPointF(SealX, SealY), SealR, SealR);
    QPainterPath check;
    check.moveTo(Check[0]);
    check.lineTo(Check[1]);
    check.lineTo(Check[2]);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(SealRing), 18, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
}

QString Svg()
{
    QString s;
    QTextStream out(&s);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n";
    out << "  <title>Tessera</title>\n";
    const auto rect = [&](const Tile& t) {
        out << "  <rect x=\"" << t.X << "\" y=\"" << t.Y << "\" width=\"" << t.W << "\" height=\"" << t.H
            << "\" rx=\"" << t.Radius << "\" fill=\"" << t.Fill << "\"/>\n";
    };
    rect(Background);
    for (const Tile& t : Tiles)
        rect(t);
    out << "  <circle cx=\"" << SealX << "\" cy=\"" << SealY << "\" r=\"" << SealR << "\" fill=\"" << SealFill
        << "\" stroke=\"" << SealRing << "\" stroke-width=\"10\"/>\n";
    out << "  <polyline points=\"";
    for (const QPointF& pt : Check)
        out << pt.x() << "," << pt.y() << " ";
    out << "\" fill=\"none\" stroke=\"" << SealRing
        << "\" stroke-width=\"18\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
    out << "</svg>\n";
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icon <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QFile svg(folder + "/tessera.svg");
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    svg.write(Svg().toUtf8());
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.scale(size / 256.0, size / 256.0);
        Draw(p);
        p.end();
        if (!image.save(QStringLiteral("%1/tessera-%2.png").arg(folder).arg(size)))
            return 1;
    }
    return 0;
}
