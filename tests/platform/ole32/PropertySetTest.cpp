// IPropertySetStorage, IPropertyStorage and PROPVARIANTs over the fixtures' property sets.
#include "platform/include/win/oleauto.h"
#include "platform/include/win/propidl.h"

#include "tests/platform/ole32/Ole32TestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

using namespace ole32test;

namespace {

const FMTID FmtidCustom = Guid("6A3B4C5D-1E2F-4A5B-8C9D-0E1F2A3B4C5D");
const FMTID FmtidNonSimple = Guid("0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9");
constexpr uint64_t Created = 132365985230000000u;  // 2020-06-14 08:55:23 UTC
constexpr uint64_t Saved = 132567987060000000u;    // 2021-02-03 04:05:06 UTC
constexpr uint64_t FiveMinutes = 3000000000u;

Com<IPropertyStorage> OpenSet(IStorage* storage, REFFMTID fmtid, HRESULT* hr = nullptr)
{
    Com<IPropertySetStorage> sets;
    EXPECT_EQ(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
    Com<IPropertyStorage> set;
    const HRESULT result = sets->Open(fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, set.Put());
    if (hr)
        *hr = result;
    return set;
}

PROPSPEC ById(PROPID id)
{
    PROPSPEC key{};
    key.ulKind = PRSPEC_PROPID;
    key.propid = id;
    return key;
}

// One property's value, cleared when the holder goes.
struct Value {
    PROPVARIANT Var{};
    HRESULT Result = E_FAIL;
    ~Value() { PropVariantClear(&Var); }
};

void Read(IPropertyStorage* set, PROPID id, Value& value)
{
    const PROPSPEC key = ById(id);
    value.Result = set->ReadMultiple(1, &key, &value.Var);
}

std::string Wide(const WCHAR* s) { return U8(s); }

class SummaryInformation : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        UseUtf8Locale();
        Root = OpenRoot(CompoundFixture("full-v" + std::to_string(GetParam()) + ".cfb"));
        ASSERT_TRUE(Root);
        Set = OpenSet(Root.get(), FMTID_SummaryInformation);
        ASSERT_TRUE(Set);
    }
    Com<IStorage> Root;
    Com<IPropertyStorage> Set;
};

TEST_P(SummaryInformation, ValuesByType)
{
    struct Case {
        PROPID Id;
        VARTYPE Type;
        std::function<void(const PROPVARIANT&)> Check;
    };
    const auto guid = Guid("B1E2C3D4-A5B6-4C7D-8E9F-0A1B2C3D4E5F");
    const Case cases[] = {
        {2, VT_LPSTR, [](auto& v) { EXPECT_STREQ(v.pszVal, "Grüße – Ñandú €5"); }}, // code page 1252
        {3, VT_LPWSTR, [](auto& v) { EXPECT_EQ(Wide(v.pwszVal), "Unicode subject ✓ Ωmega"); }},
        {6, VT_LPSTR, [](auto& v) { EXPECT_STREQ(v.pszVal, ""); }},
        {10, VT_FILETIME, [](auto& v) { EXPECT_EQ(Ticks(v.filetime), FiveMinutes); }},
        {12, VT_FILETIME, [](auto& v) { EXPECT_EQ(Ticks(v.filetime), Created); }},
        {14, VT_I4, [](auto& v) { EXPECT_EQ(v.lVal, 200); }},
        {17, VT_CF,
         [](auto& v) {
             ASSERT_NE(v.pclipdata, nullptr);
             EXPECT_EQ(v.pclipdata->cbSize, 48u); // format, CF_DIB and 40 bytes
             EXPECT_EQ(v.pclipdata->ulClipFmt, -1);
             EXPECT_EQ(v.pclipdata->pClipData[0], 8);
             EXPECT_EQ(v.pclipdata->pClipData[43], 39);
         }},
        {0x20, VT_I2, [](auto& v) { EXPECT_EQ(v.iVal, -12345); }},
        {0x21, VT_BOOL, [](auto& v) { EXPECT_EQ(v.boolVal, -1); }},
        {0x22, VT_R4, [](auto& v) { EXPECT_EQ(v.fltVal, 0.1f); }},
        {0x23, VT_R8, [](auto& v) { EXPECT_EQ(v.dblVal, 2.718281828459045); }},
        {0x24, VT_CY, [](auto& v) { EXPECT_EQ(v.cyVal.int64, 12345678); }}, // 1234.5678
        {0x25, VT_CLSID, [&](auto& v) { ASSERT_NE(v.puuid, nullptr); EXPECT_EQ(*v.puuid, guid); }},
        {0x26, VT_BLOB,
         [](auto& v) {
             ASSERT_EQ(v.blob.cbSize, 10u);
             EXPECT_EQ(v.blob.pBlobData[9], 9);
         }},
        {0x27, VT_VECTOR | VT_LPSTR,
         [](auto& v) {
             ASSERT_EQ(v.calpstr.cElems, 3u);
             EXPECT_STREQ(v.calpstr.pElems[0], "one");
             EXPECT_STREQ(v.calpstr.pElems[1], "zwei");
             EXPECT_STREQ(v.calpstr.pElems[2], "três");
         }},
        {0x28, VT_DECIMAL,
         [](auto& v) {
             EXPECT_EQ(v.decVal.scale, 4);
             EXPECT_EQ(v.decVal.sign, 0x80);
             EXPECT_EQ(v.decVal.Hi32, 0u);
             EXPECT_EQ(v.decVal.Lo64, 1234567u); // -123.4567
         }},
        {0x29, VT_DATE, [](auto& v) { EXPECT_EQ(v.date, 43996.5); }},
        {0x2A, VT_ERROR, [](auto& v) { EXPECT_EQ(v.scode, STG_E_FILENOTFOUND); }},
        {0x2B, VT_I1, [](auto& v) { EXPECT_EQ(v.cVal, -5); }},
        {0x2C, VT_UI1, [](auto& v) { EXPECT_EQ(v.bVal, 200); }},
        {0x2D, VT_UI2, [](auto& v) { EXPECT_EQ(v.uiVal, 60000); }},
        {0x2E, VT_UI4, [](auto& v) { EXPECT_EQ(v.ulVal, 4000000000u); }},
        {0x2F, VT_I8, [](auto& v) { EXPECT_EQ(v.hVal.QuadPart, -9000000000000000); }},
        {0x30, VT_UI8, [](auto& v) { EXPECT_EQ(v.uhVal.QuadPart, 18000000000000000000u); }},
        {0x31, VT_INT, [](auto& v) { EXPECT_EQ(v.intVal, -7); }},
        {0x32, VT_UINT, [](auto& v) { EXPECT_EQ(v.uintVal, 7u); }},
        {0x33, VT_BSTR,
         [](auto& v) {
             EXPECT_EQ(Wide(v.bstrVal), "BSTR ünïcode");
             EXPECT_EQ(SysStringLen(v.bstrVal), 12u);
             EXPECT_EQ(SysStringByteLen(v.bstrVal), 24u);
         }},
        {0x34, VT_NULL, [](auto&) {}},
        {0x35, VT_EMPTY, [](auto&) {}},
        {0x36, VT_VECTOR | VT_I2,
         [](auto& v) {
             ASSERT_EQ(v.cai.cElems, 3u);
             EXPECT_EQ(v.cai.pElems[1], -2);
             EXPECT_EQ(v.cai.pElems[2], 3);
         }},
        {0x37, VT_VECTOR | VT_VARIANT,
         [](auto& v) {
             ASSERT_EQ(v.capropvar.cElems, 3u);
             EXPECT_EQ(v.capropvar.pElems[0].vt, VT_I4);
             EXPECT_EQ(v.capropvar.pElems[0].lVal, 7);
             EXPECT_EQ(v.capropvar.pElems[1].vt, VT_LPSTR);
             EXPECT_STREQ(v.capropvar.pElems[1].pszVal, "x€");
             EXPECT_EQ(v.capropvar.pElems[2].vt, VT_VECTOR | VT_UI2);
             ASSERT_EQ(v.capropvar.pElems[2].caui.cElems, 2u);
             EXPECT_EQ(v.capropvar.pElems[2].caui.pElems[1], 6);
         }},
        {0x38, VT_VECTOR | VT_LPWSTR,
         [](auto& v) {
             ASSERT_EQ(v.calpwstr.cElems, 2u);
             EXPECT_EQ(Wide(v.calpwstr.pElems[0]), "α");
             EXPECT_EQ(Wide(v.calpwstr.pElems[1]), "βγ");
         }},
        {0x39, VT_VECTOR | VT_BSTR,
         [](auto& v) {
             ASSERT_EQ(v.cabstr.cElems, 2u);
             EXPECT_EQ(Wide(v.cabstr.pElems[0]), "é");
             EXPECT_EQ(SysStringLen(v.cabstr.pElems[1]), 0u);
         }},
        {0x3A, VT_VECTOR | VT_FILETIME,
         [](auto& v) {
             ASSERT_EQ(v.cafiletime.cElems, 2u);
             EXPECT_EQ(Ticks(v.cafiletime.pElems[1]), Saved);
         }},
        {0x3B, VT_VECTOR | VT_CLSID,
         [&](auto& v) {
             ASSERT_EQ(v.cauuid.cElems, 2u);
             EXPECT_EQ(v.cauuid.pElems[0], guid);
         }},
        {0x3C, VT_VECTOR | VT_CF,
         [](auto& v) {
             ASSERT_EQ(v.caclipdata.cElems, 2u);
             EXPECT_EQ(v.caclipdata.pElems[0].cbSize, 11u);
             EXPECT_EQ(std::memcmp(v.caclipdata.pElems[0].pClipData, "\x02\0\0\0abc", 7), 0);
             EXPECT_EQ(v.caclipdata.pElems[1].cbSize, 4u);
             EXPECT_EQ(v.caclipdata.pElems[1].pClipData, nullptr);
         }},
        {0x3D, VT_BLOB_OBJECT, [](auto& v) { ASSERT_EQ(v.blob.cbSize, 3u); EXPECT_EQ(v.blob.pBlobData[2], 'j'); }},
        {0x3E, VT_VECTOR | VT_UI1, [](auto& v) { ASSERT_EQ(v.caub.cElems, 5u); EXPECT_EQ(v.caub.pElems[4], 5); }},
        {0x3F, VT_VECTOR | VT_BOOL,
         [](auto& v) {
             ASSERT_EQ(v.cabool.cElems, 3u);
             EXPECT_EQ(v.cabool.pElems[0], -1);
             EXPECT_EQ(v.cabool.pElems[1], 0);
         }},
        {0x40, VT_VECTOR | VT_R8, [](auto& v) { ASSERT_EQ(v.cadbl.cElems, 2u); EXPECT_EQ(v.cadbl.pElems[1], -1.25); }},
        {0x41, VT_VECTOR | VT_CY, [](auto& v) { ASSERT_EQ(v.cacy.cElems, 2u); EXPECT_EQ(v.cacy.pElems[1].int64, -5); }},
        {0x42, VT_VECTOR | VT_DATE, [](auto& v) { ASSERT_EQ(v.cadate.cElems, 1u); EXPECT_EQ(v.cadate.pElems[0], 1.0); }},
        {0x43, VT_VECTOR | VT_ERROR, [](auto& v) { ASSERT_EQ(v.cascode.cElems, 1u); EXPECT_EQ(v.cascode.pElems[0], E_FAIL); }},
        {0x44, VT_VECTOR | VT_I8, [](auto& v) { ASSERT_EQ(v.cah.cElems, 2u); EXPECT_EQ(v.cah.pElems[0].QuadPart, -1); }},
        {0x45, VT_VECTOR | VT_UI8, [](auto& v) { ASSERT_EQ(v.cauh.cElems, 1u); EXPECT_EQ(v.cauh.pElems[0].QuadPart, 3u); }},
        {0x46, VT_VECTOR | VT_I1, [](auto& v) { ASSERT_EQ(v.cac.cElems, 3u); EXPECT_EQ(v.cac.pElems[0], -1); }},
        {0x47, VT_VECTOR | VT_UI2, [](auto& v) { ASSERT_EQ(v.caui.cElems, 1u); EXPECT_EQ(v.caui.pElems[0], 65535); }},
        {0x48, VT_VECTOR | VT_I4,
         [](auto& v) {
             ASSERT_EQ(v.cal.cElems, 2u);
             EXPECT_EQ(v.cal.pElems[0], INT32_MIN);
             EXPECT_EQ(v.cal.pElems[1], INT32_MAX);
         }},
        {0x49, VT_VECTOR | VT_UI4, [](auto& v) { ASSERT_EQ(v.caul.cElems, 2u); EXPECT_EQ(v.caul.pElems[1], 2u); }},
        {0x4A, VT_VECTOR | VT_R4, [](auto& v) { ASSERT_EQ(v.caflt.cElems, 1u); EXPECT_EQ(v.caflt.pElems[0], 1.5f); }},
        {0x4B, VT_VECTOR | VT_VARIANT, [](auto& v) { EXPECT_EQ(v.capropvar.cElems, 0u); }},
    };
    for (const Case& c : cases) {
        Value value;
        Read(Set.get(), c.Id, value);
        ASSERT_EQ(value.Result, S_OK) << std::hex << c.Id;
        ASSERT_EQ(value.Var.vt, c.Type) << std::hex << c.Id;
        c.Check(value.Var);
    }
}

TEST_P(SummaryInformation, EnumerationInStoredOrder)
{
    Com<IEnumSTATPROPSTG> properties;
    ASSERT_EQ(Set->Enum(properties.Put()), S_OK);
    std::vector<PROPID> ids;
    STATPROPSTG batch[10];
    ULONG fetched = 0;
    while (SUCCEEDED(properties->Next(10, batch, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            ids.push_back(batch[i].propid);
            EXPECT_EQ(batch[i].lpwstrName, nullptr);
            if (batch[i].propid == 0x27) {
                EXPECT_EQ(batch[i].vt, 0x101E); // the type code as stored
            }
            if (batch[i].propid == 0x28) {
                EXPECT_EQ(batch[i].vt, VT_DECIMAL);
            }
        }
    }
    // The code page (1) is not listed; everything else in the order the section stores it.
    std::vector<PROPID> expected = {2, 3, 4, 5, 6, 7, 9, 10, 12, 13, 14, 15, 16, 17, 18, 19};
    for (PROPID id = 0x20; id <= 0x4B; ++id)
        expected.push_back(id);
    EXPECT_EQ(ids, expected);
}

TEST_P(SummaryInformation, StatAndCodePage)
{
    STATPROPSETSTG stat;
    ASSERT_EQ(Set->Stat(&stat), S_OK);
    EXPECT_EQ(stat.fmtid, FMTID_SummaryInformation);
    EXPECT_EQ(stat.grfFlags, PROPSETFLAG_ANSI);
    EXPECT_EQ(stat.dwOSVersion, 0x00020006u);
    Value codePage;
    Read(Set.get(), PID_CODEPAGE, codePage);
    ASSERT_EQ(codePage.Var.vt, VT_I2);
    EXPECT_EQ(codePage.Var.iVal, 1252);
}

TEST_P(SummaryInformation, MissingPropertiesAreEmpty)
{
    PROPSPEC keys[3] = {ById(4), ById(99), ById(PID_DICTIONARY)};
    PROPVARIANT values[3];
    ASSERT_EQ(Set->ReadMultiple(3, keys, values), S_OK);
    EXPECT_EQ(values[0].vt, VT_LPSTR);
    EXPECT_EQ(values[1].vt, VT_EMPTY);
    EXPECT_EQ(values[2].vt, VT_EMPTY);
    ASSERT_EQ(FreePropVariantArray(3, values), S_OK);
    EXPECT_EQ(values[0].vt, VT_EMPTY);
    EXPECT_EQ(values[0].pszVal, nullptr);
    PROPSPEC missing[2] = {ById(98), ById(99)};
    ASSERT_EQ(Set->ReadMultiple(2, missing, values), S_FALSE);
    EXPECT_EQ(values[0].vt, VT_EMPTY);
    EXPECT_EQ(values[1].vt, VT_EMPTY);
}

TEST_P(SummaryInformation, EverythingReadIsReleased)
{
    // Under AddressSanitizer a leak here fails the run.
    std::vector<PROPSPEC> keys;
    for (PROPID id = 1; id <= 0x4B; ++id)
        keys.push_back(ById(id));
    std::vector<PROPVARIANT> values(keys.size());
    ASSERT_EQ(Set->ReadMultiple(static_cast<ULONG>(keys.size()), keys.data(), values.data()), S_OK);
    ASSERT_EQ(FreePropVariantArray(static_cast<ULONG>(values.size()), values.data()), S_OK);
    for (const PROPVARIANT& v : values)
        EXPECT_EQ(v.vt, VT_EMPTY);
    PROPVARIANT unknown{};
    unknown.vt = 0x7FF;
    EXPECT_EQ(PropVariantClear(&unknown), STG_E_INVALIDPARAMETER);
}

TEST_P(SummaryInformation, AnsiIsTheLocalesCharacterSet)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    Value title;
    Read(Set.get(), 2, title);
    Value wide;
    Read(Set.get(), 3, wide);
    UseUtf8Locale();
    ASSERT_EQ(title.Var.vt, VT_LPSTR);
    EXPECT_STREQ(title.Var.pszVal, "Gr??e ? ?and? ?5");
    // Wide strings do not depend on it.
    EXPECT_EQ(Wide(wide.Var.pwszVal), "Unicode subject ✓ Ωmega");
}

INSTANTIATE_TEST_SUITE_P(V, SummaryInformation, testing::Values(3, 4));

class PropertySets : public testing::Test {
protected:
    void SetUp() override
    {
        UseUtf8Locale();
        Root = OpenRoot(CompoundFixture("full-v3.cfb"));
        ASSERT_TRUE(Root);
    }
    Com<IStorage> Root;
};

TEST_F(PropertySets, UserDefinedDictionary)
{
    Com<IPropertyStorage> set = OpenSet(Root.get(), FMTID_UserDefinedProperties);
    ASSERT_TRUE(set);
    const PROPID ids[] = {2, 6, 99};
    LPOLESTR names[3];
    ASSERT_EQ(set->ReadPropertyNames(3, ids, names), S_OK);
    EXPECT_EQ(U8(names[0]), "Project");
    EXPECT_EQ(U8(names[1]), "Größe");
    EXPECT_EQ(names[2], nullptr);
    for (LPOLESTR name : names)
        CoTaskMemFree(name);
    const PROPID none[] = {98, 99};
    EXPECT_EQ(set->ReadPropertyNames(2, none, names), S_FALSE);

    // Names are looked up ignoring case here (no behaviour property).
    const std::u16string project = u"PROJECT";
    const std::u16string size = U16("größe");
    PROPSPEC keys[2] = {};
    keys[0].ulKind = PRSPEC_LPWSTR;
    keys[0].lpwstr = const_cast<LPOLESTR>(project.c_str());
    keys[1].ulKind = PRSPEC_LPWSTR;
    keys[1].lpwstr = const_cast<LPOLESTR>(size.c_str());
    PROPVARIANT values[2];
    ASSERT_EQ(set->ReadMultiple(2, keys, values), S_OK);
    EXPECT_STREQ(values[0].pszVal, "Tessera");
    EXPECT_EQ(values[1].vt, VT_I4);
    EXPECT_EQ(values[1].lVal, 42);
    FreePropVariantArray(2, values);

    Com<IEnumSTATPROPSTG> properties;
    ASSERT_EQ(set->Enum(properties.Put()), S_OK);
    std::vector<std::string> listed;
    STATPROPSTG stat;
    while (properties->Next(1, &stat, nullptr) == S_OK) {
        listed.push_back(std::to_string(stat.propid) + ":" + U8(stat.lpwstrName) + ":" + std::to_string(stat.vt));
        CoTaskMemFree(stat.lpwstrName);
    }
    const std::vector<std::string> expected = {"2:Project:30", "3:Reviewed:11", "4:Budget:5", "5:Due date:64",
                                               "6:Größe:3"};
    EXPECT_EQ(listed, expected);
    STATPROPSETSTG setStat;
    ASSERT_EQ(set->Stat(&setStat), S_OK);
    EXPECT_EQ(setStat.fmtid, FMTID_UserDefinedProperties);
}

TEST_F(PropertySets, DocumentSummaryFirstSection)
{
    Com<IPropertyStorage> set = OpenSet(Root.get(), FMTID_DocSummaryInformation);
    ASSERT_TRUE(set);
    Value heading;
    Read(set.get(), 12, heading);
    ASSERT_EQ(heading.Var.vt, VT_VECTOR | VT_VARIANT);
    ASSERT_EQ(heading.Var.capropvar.cElems, 2u);
    EXPECT_STREQ(heading.Var.capropvar.pElems[0].pszVal, "Title");
    Value company;
    Read(set.get(), 15, company);
    EXPECT_STREQ(company.Var.pszVal, "Tessera");
}

TEST_F(PropertySets, UnicodeSetWithCaseSensitiveNames)
{
    Com<IPropertyStorage> set = OpenSet(Root.get(), FmtidCustom);
    ASSERT_TRUE(set);
    STATPROPSETSTG stat;
    ASSERT_EQ(set->Stat(&stat), S_OK);
    EXPECT_EQ(stat.grfFlags, 0u); // Unicode, simple
    EXPECT_EQ(stat.clsid, Guid("12345678-9ABC-4DEF-8123-456789ABCDEF"));
    EXPECT_EQ(stat.dwOSVersion, 0x0002000Au);

    // An LPSTR in a Unicode set is UTF-16 in the file and "ANSI" in memory.
    Value lpstr;
    Read(set.get(), 2, lpstr);
    ASSERT_EQ(lpstr.Var.vt, VT_LPSTR);
    EXPECT_STREQ(lpstr.Var.pszVal, "Unicode LPSTR Ärger");
    Value bstr;
    Read(set.get(), 3, bstr);
    ASSERT_EQ(bstr.Var.vt, VT_BSTR);
    EXPECT_EQ(U8(bstr.Var.bstrVal), "wide bstr ✓");
    Value locale;
    Read(set.get(), PID_LOCALE, locale);
    EXPECT_EQ(locale.Var.ulVal, 0x0407u);

    const std::u16string exact = u"Name";
    const std::u16string folded = u"name";
    PROPSPEC key{};
    key.ulKind = PRSPEC_LPWSTR;
    key.lpwstr = const_cast<LPOLESTR>(exact.c_str());
    PROPVARIANT value;
    ASSERT_EQ(set->ReadMultiple(1, &key, &value), S_OK);
    PropVariantClear(&value);
    key.lpwstr = const_cast<LPOLESTR>(folded.c_str());
    EXPECT_EQ(set->ReadMultiple(1, &key, &value), S_FALSE);

    // Dictionary, code page, locale and behaviour are not listed.
    Com<IEnumSTATPROPSTG> properties;
    ASSERT_EQ(set->Enum(properties.Put()), S_OK);
    STATPROPSTG listed[5];
    ULONG fetched = 0;
    EXPECT_EQ(properties->Next(5, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u);
    EXPECT_EQ(U8(listed[1].lpwstrName), "Lärm");
    EXPECT_EQ(listed[1].vt, VT_BSTR);
    for (ULONG i = 0; i < fetched; ++i)
        CoTaskMemFree(listed[i].lpwstrName);
}

TEST_F(PropertySets, NonSimpleSetOpensNamedElements)
{
    Com<IPropertyStorage> set = OpenSet(Root.get(), FmtidNonSimple);
    ASSERT_TRUE(set);
    STATPROPSETSTG stat;
    ASSERT_EQ(set->Stat(&stat), S_OK);
    EXPECT_EQ(stat.grfFlags, PROPSETFLAG_NONSIMPLE | PROPSETFLAG_ANSI);

    Value stream;
    Read(set.get(), 2, stream);
    ASSERT_EQ(stream.Var.vt, VT_STREAM);
    EXPECT_EQ(ReadAll(stream.Var.pStream), Pattern(300, 2));

    Value storage;
    Read(set.get(), 3, storage);
    ASSERT_EQ(storage.Var.vt, VT_STORAGE);
    Com<IStream> x = OpenStreamPath(storage.Var.pStorage, "x");
    ASSERT_TRUE(x);
    EXPECT_EQ(ReadAll(x.get()), Pattern(3, 3));

    Value versioned;
    Read(set.get(), 4, versioned);
    ASSERT_EQ(versioned.Var.vt, VT_VERSIONED_STREAM);
    EXPECT_EQ(versioned.Var.pVersionedStream->guidVersion, Guid("99887766-5544-4332-A110-FFEEDDCCBBAA"));
    EXPECT_EQ(ReadAll(versioned.Var.pVersionedStream->pStream), Pattern(40, 4));

    // A value naming an element that is not there fails the whole read: nothing is handed out.
    PROPSPEC keys[2] = {ById(5), ById(6)};
    PROPVARIANT values[2];
    EXPECT_EQ(set->ReadMultiple(2, keys, values), STG_E_FILENOTFOUND);
    EXPECT_EQ(values[0].vt, VT_EMPTY);
    EXPECT_EQ(values[1].vt, VT_EMPTY);
}

TEST_F(PropertySets, EnumerationOfTheSets)
{
    Com<IPropertySetStorage> sets;
    ASSERT_EQ(Root->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
    Com<IEnumSTATPROPSETSTG> listed;
    ASSERT_EQ(sets->Enum(listed.Put()), S_OK);
    std::vector<std::pair<std::string, DWORD>> found;
    const std::map<std::string, FMTID> known = {{"summary", FMTID_SummaryInformation},
                                                {"document", FMTID_DocSummaryInformation},
                                                {"user", FMTID_UserDefinedProperties},
                                                {"custom", FmtidCustom},
                                                {"nonsimple", FmtidNonSimple}};
    STATPROPSETSTG stat;
    while (listed->Next(1, &stat, nullptr) == S_OK) {
        std::string name = "unknown";
        for (const auto& [k, fmtid] : known)
            if (fmtid == stat.fmtid)
                name = k;
        found.emplace_back(name, stat.grfFlags);
    }
    // In the storage's element order; the stream that is no property set is left out.
    const std::vector<std::pair<std::string, DWORD>> expected = {
        {"summary", PROPSETFLAG_ANSI}, {"nonsimple", PROPSETFLAG_NONSIMPLE | PROPSETFLAG_ANSI},
        {"custom", 0}, {"document", PROPSETFLAG_ANSI}, {"user", PROPSETFLAG_ANSI}};
    EXPECT_EQ(found, expected);
}

TEST_F(PropertySets, OpenResults)
{
    HRESULT hr = S_OK;
    Com<IStorage> plain = OpenRoot(CompoundFixture("no-suminfo.cfb"));
    EXPECT_FALSE(OpenSet(plain.get(), FMTID_SummaryInformation, &hr));
    EXPECT_EQ(hr, STG_E_FILENOTFOUND);
    EXPECT_FALSE(OpenSet(plain.get(), FMTID_UserDefinedProperties, &hr));
    EXPECT_EQ(hr, STG_E_FILENOTFOUND);
    Com<IPropertySetStorage> sets;
    ASSERT_EQ(Root->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(sets.Put())), S_OK);
    Com<IPropertyStorage> set;
    EXPECT_EQ(sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, set.Put()), STG_E_ACCESSDENIED);
    EXPECT_EQ(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_DENY_NONE, set.Put()), STG_E_INVALIDFLAG);
    EXPECT_EQ(sets->Create(FMTID_SummaryInformation, nullptr, 0, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                           set.Put()),
              STG_E_ACCESSDENIED);
    set = OpenSet(Root.get(), FMTID_SummaryInformation);
    ASSERT_TRUE(set);
    PROPSPEC key = ById(2);
    PROPVARIANT value{};
    value.vt = VT_I4;
    EXPECT_EQ(set->WriteMultiple(1, &key, &value, 2), STG_E_ACCESSDENIED);
    EXPECT_EQ(set->Commit(STGC_DEFAULT), S_OK);
    // The property set keeps the file open after the storage goes.
    Root = Com<IStorage>();
    Value title;
    Read(set.get(), 2, title);
    EXPECT_EQ(title.Var.vt, VT_LPSTR);
}

// VT_ARRAY values decode into SAFEARRAYs and the properties after them stay readable.
TEST(PropertySetArrays, DecodeIntoSafeArrays)
{
    Com<IStorage> root = OpenRoot(CompoundFixture("propset-array.cfb"));
    ASSERT_TRUE(root);
    Com<IPropertyStorage> set = OpenSet(root.get(), FMTID_SummaryInformation);
    ASSERT_TRUE(set);
    {
        Value numbers;
        Read(set.get(), 5, numbers);
        ASSERT_EQ(numbers.Result, S_OK);
        ASSERT_EQ(numbers.Var.vt, VT_ARRAY | VT_I4);
        const SAFEARRAY* array = numbers.Var.parray;
        ASSERT_NE(array, nullptr);
        ASSERT_EQ(array->cDims, 2);
        EXPECT_EQ(array->cbElements, 4u);
        // The last dimension first: 3 elements from 1, then 2 from 0.
        EXPECT_EQ(array->rgsabound[0].cElements, 3u);
        EXPECT_EQ(array->rgsabound[0].lLbound, 1);
        EXPECT_EQ(array->rgsabound[1].cElements, 2u);
        const auto* values = static_cast<const LONG*>(array->pvData);
        EXPECT_EQ(std::vector<LONG>(values, values + 6), (std::vector<LONG>{1, 2, 3, 4, 5, 6}));
    }
    {
        Value strings;
        Read(set.get(), 6, strings);
        ASSERT_EQ(strings.Var.vt, VT_ARRAY | VT_BSTR);
        const auto* texts = static_cast<const BSTR*>(strings.Var.parray->pvData);
        EXPECT_EQ(Wide(texts[0]), "first");
        EXPECT_EQ(Wide(texts[1]), "zweite");
    }
    {
        Value variants;
        Read(set.get(), 7, variants);
        ASSERT_EQ(variants.Var.vt, VT_ARRAY | VT_VARIANT);
        const auto* inner = static_cast<const PROPVARIANT*>(variants.Var.parray->pvData);
        EXPECT_EQ(inner[0].vt, VT_I4);
        EXPECT_EQ(inner[0].lVal, 7);
        EXPECT_EQ(inner[1].vt, VT_LPSTR);
        EXPECT_STREQ(inner[1].pszVal, "inner");
    }
    Value after;
    Read(set.get(), 4, after);
    ASSERT_EQ(after.Var.vt, VT_LPSTR);
    EXPECT_STREQ(after.Var.pszVal, "After the arrays");
}

TEST(PropertySetNames, Base32NamesOfFmtids)
{
    // The stream name make_fixtures.py derived is found by Open (shown by UnicodeSetWithCaseSensitiveNames);
    // here the well-known name and the algorithm's character set are pinned.
    Com<IStorage> root = OpenRoot(CompoundFixture("full-v4.cfb"));
    ASSERT_TRUE(root);
    Com<IStream> stream;
    const std::u16string name = U16("\x05" "3ctwdv3f4ywuegwtoyhus3qj3c");
    EXPECT_EQ(root->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put()), S_OK);
    EXPECT_TRUE(OpenSet(root.get(), FmtidCustom));
}

// msiinfo reads the same summary information; the values must agree.
std::string Asctime(uint64_t ticks)
{
    const time_t seconds = static_cast<time_t>(ticks / 10000000u - 11644473600u);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &tm);
    return text;
}

TEST(MsiSummary, AgreesWithMsiinfo)
{
    const char* msiinfo = "/usr/bin/msiinfo";
    ASSERT_TRUE(std::filesystem::exists(msiinfo)) << "the peer comes with the msitools package";
    UseUtf8Locale();
    for (const char* package : {"empty-package.msi", "one-file.msi"}) {
        const auto path = CompoundFixture(package);
        const testsupport::RunResult run = testsupport::RunProgram(msiinfo, {"suminfo", path.string()}, {}, {"TZ=UTC"});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        std::map<std::string, std::string> peer;
        std::istringstream lines(run.Out);
        for (std::string line; std::getline(lines, line);) {
            const size_t colon = line.find(": ");
            if (colon != std::string::npos)
                peer[line.substr(0, colon)] = line.substr(colon + 2);
        }
        Com<IStorage> root = OpenRoot(path);
        ASSERT_TRUE(root);
        Com<IPropertyStorage> set = OpenSet(root.get(), FMTID_SummaryInformation);
        ASSERT_TRUE(set);
        const std::pair<const char*, PROPID> texts[] = {{"Title", 2},    {"Subject", 3},  {"Author", 4},
                                                        {"Keywords", 5}, {"Comments", 6}, {"Template", 7},
                                                        {"Revision number (UUID)", 9}, {"Application", 18}};
        for (const auto& [label, id] : texts) {
            Value value;
            Read(set.get(), id, value);
            ASSERT_EQ(value.Var.vt, VT_LPSTR) << label;
            EXPECT_EQ(value.Var.pszVal, peer[label]) << package << " " << label;
        }
        const std::pair<const char*, PROPID> numbers[] = {{"Version", 14}, {"Source", 15}, {"Security", 19}};
        for (const auto& [label, id] : numbers) {
            Value value;
            Read(set.get(), id, value);
            ASSERT_EQ(value.Var.vt, VT_I4) << label;
            EXPECT_EQ(std::to_string(value.Var.lVal), peer[label].substr(0, peer[label].find(' '))) << package << " " << label;
        }
        const std::pair<const char*, PROPID> times[] = {{"Created", 12}, {"Last saved", 13}};
        for (const auto& [label, id] : times) {
            Value value;
            Read(set.get(), id, value);
            ASSERT_EQ(value.Var.vt, VT_FILETIME) << label;
            EXPECT_EQ(Asctime(Ticks(value.Var.filetime)), peer[label]) << package << " " << label;
        }
    }
}

} // namespace
