// The settings store: every persistent setting of Quillmark and Quillsetup, addressed by the key
// paths of the original registry layout (subkey below "Microsoft\Application\Twelve" plus a value
// name), kept in one file per user.
//
// Entry points: SettingsStore::open() finds the file (QUILLMARK_CONFIG, else
// $XDG_CONFIG_HOME/quillmark/settings.ini, else ~/.config/quillmark/settings.ini); read() and
// write() take a SettingKey from the table below.
//
// Contract: there is no cache. Every read opens and parses the file, so a value written by
// Quillsetup or another copy is seen at the next use. A missing, unreadable or malformed file reads
// as "all defaults" and never blocks start-up. An empty value reads as the default, as an absent
// one does. A value longer than its read buffer (buffer size minus the terminating zero of the
// original fixed buffers) is cut to fit. Writes go through an atomic rename, create the file with
// mode 0600 (it holds passwords), and are serialised across threads and processes by a lock file.
//
// File format: UTF-8/bytes text, "[Subkey]" section lines followed by "Value=data" lines. Data
// escapes backslash, CR, LF and other control bytes as \\, \r, \n and \xHH so every byte of a value
// round-trips; lines that parse as nothing are ignored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

struct SettingKey {
    std::string_view subkey;
    std::string_view value;
    std::size_t readBuffer;
    std::string_view fallback;
};

namespace keys {
// Program folder; all data folders are formed below it.
inline constexpr SettingKey kAppPath{"AppPath", "path", 200, ""};
// Outgoing relay; empty selects MX mode.
inline constexpr SettingKey kSmtpServer{"SmtpServer", "Server", 100, ""};
inline constexpr SettingKey kSmtpPort{"SmtpServer", "Port", 100, "25"};
inline constexpr SettingKey kSmtpAuth{"SmtpServer", "Auth", 100, "n"};
inline constexpr SettingKey kSmtpUser{"SmtpServer", "Uname", 100, ""};
inline constexpr SettingKey kSmtpPassword{"SmtpServer", "Password", 100, ""};
// Connection security of the relay: "none", "starttls" or "tls"; absent behaves as before.
inline constexpr SettingKey kSmtpSecurity{"SmtpServer", "Security", 100, "none"};
inline constexpr SettingKey kSmtpVerifyCert{"SmtpServer", "VerifyCert", 2, "y"};
// Opportunistic STARTTLS towards mail exchangers in MX mode.
inline constexpr SettingKey kMxStartTls{"SmtpServer", "MxStartTls", 2, "y"};
// POP3 mailbox that receives unsubscribe requests.
inline constexpr SettingKey kInfoId{"Info", "ID", 100, ""};
inline constexpr SettingKey kInfoPass{"Info", "Pass", 100, ""};
inline constexpr SettingKey kInfoMailServer{"Info", "MailServer", 100, ""};
inline constexpr SettingKey kInfoRemember{"Info", "Rem", 2, "n"};
// "Auto Unsubscribe".
inline constexpr SettingKey kAutoUnsubscribe{"Info\\Test", "Test", 2, "n"};
// "Show Reminder For Quick Tour".
inline constexpr SettingKey kShowReminder{"Test", "Test", 2, "y"};

inline constexpr SettingKey kAll[] = {
    kAppPath,      kSmtpServer,     kSmtpPort,       kSmtpAuth,        kSmtpUser,
    kSmtpPassword, kSmtpSecurity,   kSmtpVerifyCert, kMxStartTls,      kInfoId,
    kInfoPass,     kInfoMailServer, kInfoRemember,   kAutoUnsubscribe, kShowReminder};
}  // namespace keys

// Read buffer used for a subkey/value pair that is not in the table (the command line may name
// any); the largest buffer of the table.
inline constexpr std::size_t kDefaultReadBuffer = 200;

// The known key for (subkey, value), or nullptr.
const SettingKey* findSettingKey(std::string_view subkey, std::string_view value);

class SettingsStore {
  public:
    explicit SettingsStore(std::string path);
    // The per-user store (see the file comment for how its path is chosen).
    static SettingsStore open();
    static std::string defaultPath();

    const std::string& path() const { return path_; }

    std::string read(const SettingKey& key) const;
    // "y" is on; anything else, or the default when absent, decides.
    bool readFlag(const SettingKey& key) const;
    // Raw read of any subkey/value with an explicit buffer and default.
    std::string read(std::string_view subkey, std::string_view value, std::size_t readBuffer,
                     std::string_view fallback) const;
    bool hasSubkey(std::string_view subkey) const;

    bool write(const SettingKey& key, std::string_view text, std::string* error = nullptr);
    bool writeFlag(const SettingKey& key, bool on, std::string* error = nullptr);
    bool write(std::string_view subkey, std::string_view value, std::string_view text,
               std::string* error = nullptr);
    bool createSubkey(std::string_view subkey, std::string* error = nullptr);

    // Names that the file format can hold: no brackets around, no '=', no control bytes.
    static bool isValidName(std::string_view name);

  private:
    std::string path_;
};

}  // namespace qm
