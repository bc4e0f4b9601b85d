// The user's language, named by the C library's locale settings, as Windows identifies it.
#include "platform/include/win/winbase.h"

#include <cstdlib>
#include <string_view>

namespace {

struct Language {
    std::string_view Name; // "ll" or "ll_CC"
    LANGID Id;
};

// Country-specific identifiers first; a language alone takes its default sublanguage.
constexpr Language Languages[] = {
    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809},
    {"de_AT", 0x0C07}, {"de_CH", 0x0807}, {"de_LU", 0x1007}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C},
    {"fr_CH", 0x100C}, {"es_MX", 0x080A}, {"es_AR", 0x2C0A}, {"pt_PT", 0x0816}, {"zh_TW", 0x0404},
    {"zh_HK", 0x0C04}, {"zh_SG", 0x1004}, {"it_CH", 0x0810}, {"nl_BE", 0x0813}, {"sv_FI", 0x081D},
    {"ar", 0x0401}, {"bg", 0x0402}, {"ca", 0x0403}, {"zh", 0x0804}, {"cs", 0x0405}, {"da", 0x0406},
    {"de", 0x0407}, {"el", 0x0408}, {"en", 0x0409}, {"es", 0x0C0A}, {"fi", 0x040B}, {"fr", 0x040C},
    {"he", 0x040D}, {"hu", 0x040E}, {"is", 0x040F}, {"it", 0x0410}, {"ja", 0x0411}, {"ko", 0x0412},
    {"nl", 0x0413}, {"nb", 0x0414}, {"no", 0x0414}, {"pl", 0x0415}, {"pt", 0x0416}, {"ro", 0x0418},
    {"ru", 0x0419}, {"hr", 0x041A}, {"sk", 0x041B}, {"sq", 0x041C}, {"sv", 0x041D}, {"th", 0x041E},
    {"tr", 0x041F}, {"id", 0x0421}, {"uk", 0x0422}, {"be", 0x0423}, {"sl", 0x0424}, {"et", 0x0425},
    {"lv", 0x0426}, {"lt", 0x0427}, {"fa", 0x0429}, {"vi", 0x042A}, {"hi", 0x0439}, {"sr", 0x081A},
};

constexpr LANGID EnglishUnitedStates = 0x0409;

// The first locale setting that is set, as the C library chooses the messages' language.
std::string_view LocaleName()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return value;
    return {};
}

} // namespace

extern "C" {

LANGID WINAPI GetUserDefaultUILanguage()
{
    std::string_view name = LocaleName();
    // "de_AT.UTF-8@euro" names "de_AT".
    name = name.substr(0, name.find_first_of(".@"));
    for (const Language& language : Languages)
        if (language.Name == name)
            return language.Id;
    const std::string_view primary = name.substr(0, name.find('_'));
    for (const Language& language : Languages)
        if (language.Name == primary)
            return language.Id;
    return EnglishUnitedStates;
}

} // extern "C"
