// The two QUADRELL products, each described once for the version gates, the restore run and the tests.
#pragma once

namespace checks {

struct Product {
  const char16_t* installerEntry;           // under HKEY_LOCAL_MACHINE
  const char16_t* configurationKey;         // under HKEY_CURRENT_USER: the product is restored
  const char16_t* limitedConfigurationKey;  // only where one of the two exists
  const char16_t* settingsKey;              // under HKEY_CURRENT_USER: the setting is copied to
  const char16_t* settingsValue;            // this value from the installer entry's value of
  const char16_t* installerValue;           // this name
  int thresholdParts;                       // how many parts of the version are compared with
  int threshold[4];                         // the last version that still needs the restore
  const char16_t* successLine;
  const char16_t* notNeededLine;
  const char16_t* problemLine;
};

// Tessaro's installer entry has two closing braces before "_is1": that is the key it reads.
inline constexpr Product kTessaro{
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{E2A68D5C-555B-4C3A-8505-137A33019415}}_is1",
    u"Software\\OKRAN\\Tessaro",
    u"Software\\OKRAN\\TessaroLimited",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Tessaro",
    u"InstallPath",
    u"Inno Setup: App Path",
    4, {2, 1, 0, 22},
    u"Il ripristino del Software QUADRELL Tessaro è andato a buon fine.",
    u"Il ripristino del Software QUADRELL Tessaro non è stato necessario.",
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Tessaro, si è pregati di ritentare "
    u"o procedere con la reinstallazione.",
};

inline constexpr Product kPerizon{
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUADRELL Perizon_is1",
    u"Software\\OKRAN\\Perizon",
    u"Software\\OKRAN\\PerizonLimited",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Perizon",
    u"Lingua",
    u"Inno Setup: Language",
    3, {2, 1, 0},
    u"Il ripristino del Software QUADRELL Perizon è andato a buon fine.",
    u"Il ripristino del Software QUADRELL Perizon non è stato necessario.",
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Perizon, si è pregati di ritentare "
    u"o procedere con la reinstallazione.",
};

}  // namespace checks
