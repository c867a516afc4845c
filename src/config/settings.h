// The settings store: every persistent setting of Quillmark and Quillsetup, addressed by a key path
// (a subkey below "Microsoft\Application\Twelve" plus a value name), kept in one file per user.
//
// Entry points: SettingsStore::open() finds the file (QUILLMARK_CONFIG, else
// $XDG_CONFIG_HOME/quillmark/settings.ini, else <home>/.config/quillmark/settings.ini, the home
// folder from config/home_folder.h); read() and write() take a SettingKey from the table below.
// There is no cache: every read opens and parses the file, so a value written by Quillsetup or
// another copy is seen at the next use.
//
// Failure: reads never fail. A missing, unreadable or malformed file reads as "all defaults" and
// never blocks start-up; an empty value reads as the default, as an absent one does. Writes return
// false plus a one-line text and change nothing when the present file cannot be read (a write
// rewrites the whole file, so going on would replace every other setting with the one value
// written), when the value is longer than its key can read back, or when no home folder gave the
// store a place. Only a missing file is written afresh.
//
// Limits: a value reads back whole up to its capacity (the read buffer size minus the terminating
// zero it counts); writes refuse anything longer. A longer value found in the file (edited by hand)
// is cut to the capacity. Only a regular file of at most 1 MiB is read: a FIFO or device in its
// place is refused, never waited on.
//
// Threads: any. Writes are serialised across threads by a mutex and across processes by a lock
// file, and go through an atomic rename with mode 0600 (the file holds passwords).
//
// Standard: the file is UTF-8/bytes text, "[Subkey]" section lines followed by "Value=data" lines.
// Data escapes backslash, CR, LF and other control bytes as \\, \r, \n and \xHH so every byte of a
// value round-trips; lines that parse as nothing are ignored.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace qm {

struct SettingKey {
    std::string_view subkey;
    std::string_view value;
    std::size_t readBuffer;  // bytes, the terminating zero included
    std::string_view fallback;
    // The longest value that reads back whole.
    constexpr std::size_t capacity() const { return readBuffer > 0 ? readBuffer - 1 : 0; }
};

// The read buffer that keeps `characters` characters of a screen field: the screen stores its text
// as UTF-8, at most 3 bytes for each UTF-16 unit it counts.
constexpr std::size_t screenBuffer(std::size_t characters) {
    return characters * 3 + 1;
}

// Every key's buffer keeps what its writers accept: the "SMTP Settings" screen takes a server name
// of 100 characters and a user name and password of 99 (delivery/ui/smtp_settings_tab.cpp); the
// command line takes what write() takes, which is the capacity.
namespace keys {
// Program folder; all data folders are formed below it. Any path the system accepts (PATH_MAX):
// a path cut short would put the data in another folder without a word.
inline constexpr SettingKey kAppPath{"AppPath", "path", 4096, ""};
// Outgoing relay; empty selects MX mode.
inline constexpr SettingKey kSmtpServer{"SmtpServer", "Server", screenBuffer(100), ""};
inline constexpr SettingKey kSmtpPort{"SmtpServer", "Port", 100, "25"};
inline constexpr SettingKey kSmtpAuth{"SmtpServer", "Auth", 100, "n"};
inline constexpr SettingKey kSmtpUser{"SmtpServer", "Uname", screenBuffer(99), ""};
inline constexpr SettingKey kSmtpPassword{"SmtpServer", "Password", screenBuffer(99), ""};
// How the relay account logs in: "password", or "oauth" with the access token printed by the
// "Token command" (a program and its arguments, run without a shell).
inline constexpr SettingKey kSmtpLogin{"SmtpServer", "Login", 100, "password"};
inline constexpr SettingKey kSmtpTokenCommand{"SmtpServer", "TokenCommand", 4096, ""};
// Connection security of the relay: "none", "starttls" or "tls"; absent behaves as before.
inline constexpr SettingKey kSmtpSecurity{"SmtpServer", "Security", 100, "none"};
inline constexpr SettingKey kSmtpVerifyCert{"SmtpServer", "VerifyCert", 2, "y"};
// "Messages per connection": how many messages one sending thread sends over one SMTP session
// (1 to 1000; 1 opens a connection for every recipient).
inline constexpr SettingKey kSmtpPerConnection{"SmtpServer", "PerConnection", 100, "1"};
// The sending pace: "0" (none), "N/min" or "N/h".
inline constexpr SettingKey kSmtpRate{"SmtpServer", "Rate", 100, "0"};
// Opportunistic STARTTLS towards mail exchangers in MX mode.
inline constexpr SettingKey kMxStartTls{"SmtpServer", "MxStartTls", 2, "y"};
// Exchanger order in MX mode: "answer" (first MX record as answered) or "preference".
inline constexpr SettingKey kMxOrder{"SmtpServer", "MxOrder", 100, "answer"};
// DKIM signing: the signing domain (empty: no signing), the selector, the private key file and
// "rsa" or "ed25519".
inline constexpr SettingKey kDkimDomain{"Dkim", "Domain", screenBuffer(253), ""};
inline constexpr SettingKey kDkimSelector{"Dkim", "Selector", screenBuffer(63), ""};
inline constexpr SettingKey kDkimKeyFile{"Dkim", "KeyFile", 4096, ""};
inline constexpr SettingKey kDkimAlgorithm{"Dkim", "Algorithm", 100, "rsa"};
// POP3 mailbox that receives unsubscribe requests. The retrieval screen takes 50 characters for
// each; the scrambled password spends up to five bytes on each byte of the password.
inline constexpr SettingKey kInfoId{"Info", "ID", screenBuffer(50), ""};
inline constexpr SettingKey kInfoPass{"Info", "Pass", 5 * (screenBuffer(50) - 1) + 1, ""};
inline constexpr SettingKey kInfoMailServer{"Info", "MailServer", screenBuffer(50), ""};
inline constexpr SettingKey kInfoRemember{"Info", "Rem", 2, "n"};
// Port, "none", "stls" or "tls", and certificate verification of that mailbox.
inline constexpr SettingKey kInfoPort{"Info", "Port", 100, "110"};
inline constexpr SettingKey kInfoSecurity{"Info", "Security", 100, "none"};
inline constexpr SettingKey kInfoVerifyCert{"Info", "VerifyCert", 2, "y"};
// "Auto Unsubscribe".
inline constexpr SettingKey kAutoUnsubscribe{"Info\\Test", "Test", 2, "n"};
// "Show Reminder For Quick Tour".
inline constexpr SettingKey kShowReminder{"Test", "Test", 2, "y"};
// The text alternative of HTML mail: "source" (the HTML source) or "readable" (rendered text).
inline constexpr SettingKey kTextPart{"SmtpServer", "TextPart", 100, "source"};
// One-click unsubscribe URL template (https), empty for none.
inline constexpr SettingKey kUnsubscribeUrl{"Info", "UnsubscribeUrl", 1025, ""};
// A List-Id field on the copies of group runs: "y" or "n".
inline constexpr SettingKey kListId{"SmtpServer", "ListId", 2, "n"};
// The markup of the HTML unsubscribe footer: "classic" (mixed case) or "lower".
inline constexpr SettingKey kFooterMarkup{"SmtpServer", "FooterMarkup", 100, "classic"};
// "Follow current bulk-sender rules": "current" or "as-specified"; and the options the profile
// changed when it was switched on, by their stored names joined by ",", so switching it off puts
// back only what it changed and the user has not changed since.
inline constexpr SettingKey kSenderProfile{"SmtpServer", "Profile", 100, "as-specified"};
inline constexpr SettingKey kProfileSet{"SmtpServer", "ProfileSet", 200, ""};

// One key a line at the end keeps additions from reflowing the table.
// clang-format off
inline constexpr SettingKey kAll[] = {
    kAppPath,      kSmtpServer,      kSmtpPort,     kSmtpAuth, kSmtpUser,     kSmtpPassword,
    kSmtpSecurity, kSmtpVerifyCert,  kMxStartTls,   kInfoId,   kInfoPass,     kInfoMailServer,
    kInfoRemember, kAutoUnsubscribe, kShowReminder, kInfoPort, kInfoSecurity, kInfoVerifyCert,
    kMxOrder,      kSmtpPerConnection, kSmtpRate,
    kDkimDomain,   kDkimSelector,    kDkimKeyFile,  kDkimAlgorithm,
    kTextPart,     kUnsubscribeUrl,
    kListId,       kFooterMarkup,    kSenderProfile, kProfileSet,
    kSmtpLogin,    kSmtpTokenCommand,
};
// clang-format on
}  // namespace keys

// Read buffer used for a subkey/value pair that is not in the table (the command line may name
// any); write() refuses longer values for such pairs.
inline constexpr std::size_t kDefaultReadBuffer = 200;

// The file's text as subkeys of values, and back: the store's own reader and writer, pure so that
// any bytes can be tried on them. Reading the written text gives the same document.
using SettingsSection = std::map<std::string, std::string, std::less<>>;
using SettingsDocument = std::map<std::string, SettingsSection, std::less<>>;
SettingsDocument parseSettingsText(std::string_view text);
std::string formatSettingsText(const SettingsDocument& doc);

// The known key for (subkey, value), or nullptr.
const SettingKey* findSettingKey(std::string_view subkey, std::string_view value);

class SettingsStore {
  public:
    explicit SettingsStore(std::string path);
    // The per-user store (see the file comment for how its path is chosen). Without a home folder
    // its path is empty: reads give the defaults and writes fail with the reason.
    static SettingsStore open();
    // Empty, with the reason in `error`, when no home folder can be found.
    static std::string defaultPath(std::string* error = nullptr);

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
    // A pair of the table keeps that key's capacity; any other pair kDefaultReadBuffer's.
    bool write(std::string_view subkey, std::string_view value, std::string_view text,
               std::string* error = nullptr);
    bool createSubkey(std::string_view subkey, std::string* error = nullptr);

    // Names that the file format can hold: no brackets around, no '=', no control bytes.
    static bool isValidName(std::string_view name);

  private:
    bool placed(std::string* error) const;

    std::string path_;
    std::string unplaced_;  // why path_ is empty
};

}  // namespace qm
