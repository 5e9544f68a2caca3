#include "config/setting.h"

#include "config/ini_file.h"
#include "platform/paths.h"
#include "platform/platform.h"

namespace qm {

namespace {

constexpr const char* kSection = "Setting";
constexpr const char* kPasswordKey = "SYSDBAPassword";
constexpr const char* kLibraryKey = "LibraryName";
constexpr const char* kServerKey = "Server";
constexpr const char* kDefaultPassword = "plumstone";

// The cipher's settings are part of the stored format: a change makes every
// stored password decipher to other text.
constexpr std::int32_t kAddKey = 20090417;
constexpr std::int32_t kMultKey = 19830512;
constexpr const char* kCipherPassword = "MQ%&TK7B&2";

// The file holds the SYSDBA password, enciphered but not encrypted, with keys
// anyone can know: it is for its owner's eyes only, whatever mode it had.
constexpr unsigned kSettingsFileMode = 0600;

}  // namespace

std::string SettingsFilePath() { return platform::DataDir() + "Quillmoor.srv"; }

TSetting::TSetting(bool load) {
    cipher_.SetAddKey(kAddKey);
    cipher_.SetMultKey(kMultKey);
    cipher_.SetPassword(kCipherPassword);
    if (load) Load();
}

void TSetting::Load() {
    const TIniFile ini(SettingsFilePath());
    try {
        const std::string stored =
            ini.ReadString(kSection, kPasswordKey, cipher_.EncryptString(kDefaultPassword));
        SYSDBAPassword = cipher_.DecryptString(stored);
    } catch (const ECryptError&) {
        SYSDBAPassword = kDefaultPassword;
    }
    LibraryName = ini.ReadString(kSection, kLibraryKey, platform::kDefaultClientLibrary);
    Server = ini.ReadString(kSection, kServerKey, "");
}

void TSetting::Save() {
    TIniFile ini(SettingsFilePath());
    ini.WriteString(kSection, kPasswordKey, cipher_.EncryptString(SYSDBAPassword));
    ini.WriteString(kSection, kLibraryKey, LibraryName);
    ini.WriteString(kSection, kServerKey, Server);
    ini.UpdateFile(kSettingsFileMode, platform::ModeRule::Exactly);
}

}  // namespace qm
