// settings, paths and address commands.
#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/file_util.h"
#include "config/paths.h"
#include "config/settings.h"
#include "delivery/delivery_settings.h"
#include "delivery/send_pace.h"
#include "delivery/sender_profile.h"
#include "groups/address.h"
#include "message/list_unsubscribe.h"

namespace qm::cli {

namespace {

constexpr std::string_view kRootKey = "Microsoft\\Application\\Twelve";

// Accepts a subkey written with or without the root key in front of it.
std::string relativeSubkey(std::string subkey) {
    std::string prefix = std::string(kRootKey) + "\\";
    if (subkey.rfind(prefix, 0) == 0) subkey.erase(0, prefix.size());
    return subkey;
}

bool oneOf(std::string_view text, std::initializer_list<std::string_view> allowed) {
    for (std::string_view a : allowed)
        if (text == a) return true;
    return false;
}

bool numberIn(std::string_view text, long low, long high) {
    if (text.empty() || text.size() > 9) return false;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return n >= low && n <= high;
}

// Why `text` is no value of `key` (empty when it is one). The readers fall back to a default for
// a value they cannot read, so a typing slip stored here would change a later run without a word.
std::string settingValueError(const SettingKey& key, std::string_view text) {
    namespace k = keys;
    auto is = [&key](const SettingKey& other) {
        return key.subkey == other.subkey && key.value == other.value;
    };
    std::string_view want;
    bool ok = true;
    if (is(k::kSmtpAuth) || is(k::kSmtpVerifyCert) || is(k::kMxStartTls) || is(k::kInfoRemember) ||
        is(k::kAutoUnsubscribe) || is(k::kShowReminder) || is(k::kInfoVerifyCert) ||
        is(k::kListId)) {
        ok = oneOf(text, {"y", "n"}), want = "y or n";
    } else if (is(k::kSmtpPort) || is(k::kInfoPort)) {
        ok = numberIn(text, 1, 65535), want = "a port, 1 to 65535";
    } else if (is(k::kSmtpSecurity)) {
        ok = oneOf(text, {"none", "starttls", "tls"}), want = "none, starttls or tls";
    } else if (is(k::kInfoSecurity)) {
        ok = oneOf(text, {"none", "stls", "tls"}), want = "none, stls or tls";
    } else if (is(k::kSmtpPerConnection)) {
        ok = numberIn(text, kMinPerConnection, kMaxPerConnection), want = "1 to 1000";
    } else if (is(k::kSmtpRate)) {
        ok = parseSendRate(text).has_value(), want = "N/min, N/h or 0";
    } else if (is(k::kMxOrder)) {
        ok = oneOf(text, {"answer", "preference"}), want = "answer or preference";
    } else if (is(k::kTextPart)) {
        ok = oneOf(text, {"source", "readable"}), want = "source or readable";
    } else if (is(k::kFooterMarkup)) {
        ok = oneOf(text, {"classic", "lower"}), want = "classic or lower";
    } else if (is(k::kSenderProfile)) {
        ok = oneOf(text, {"current", "as-specified"}), want = "current or as-specified";
    } else if (is(k::kDkimAlgorithm)) {
        ok = oneOf(text, {"rsa", "ed25519"}), want = "rsa or ed25519";
    } else if (is(k::kUnsubscribeUrl) && !text.empty()) {
        return checkUnsubscribeUrl(text);
    }
    if (ok) return {};
    return std::string(key.subkey) + " " + std::string(key.value) + ": '" + std::string(text) +
           "' is not a value it takes (" + std::string(want) + ")";
}

// The switch as stored and what it set; after switching on, the domain check it goes with.
int runProfile(const std::string& choice) {
    SettingsStore store = SettingsStore::open();
    const ProfileState before = loadProfileState(store);
    if (!choice.empty()) {
        std::string error;
        if (!switchStoredProfile(store, *parseProfile(choice), &error)) return fail(error);
    }
    const ProfileState state = loadProfileState(store);
    std::cout << "Follow current bulk-sender rules: "
              << (state.profile == SenderProfile::Current ? "on" : "off") << '\n';
    std::string set;
    for (ProfileOption option : optionsSetByProfile(loadProfileOptions(store), state))
        set += (set.empty() ? "" : ", ") + std::string(profileOptionLabel(option));
    if (!set.empty()) std::cout << "set by the profile: " << set << '\n';
    if (before.profile != SenderProfile::Current && state.profile == SenderProfile::Current) {
        const std::string domain = store.read(keys::kDkimDomain);
        const std::string selector = store.read(keys::kDkimSelector);
        std::cout << "Check that the sender domain publishes SPF, DMARC and DKIM records: "
                     "quillmark-cli check-domain "
                  << (domain.empty() ? std::string("DOMAIN") : domain)
                  << (selector.empty() ? std::string() : " --selector " + selector) << '\n';
    }
    return kExitOk;
}

}  // namespace

void addAppCommands(CLI::App& app, int& exitCode) {
    auto* settings = app.add_subcommand("settings", "Read and write the settings store");
    settings->require_subcommand(1);
    {
        auto subkey = std::make_shared<std::string>();
        auto value = std::make_shared<std::string>();
        auto* get = settings->add_subcommand(
            "get", "Print a value (default when absent), e.g. 'settings get SmtpServer Server'");
        get->add_option("SUBKEY", *subkey, "Subkey below Microsoft\\Application\\Twelve")
            ->required();
        get->add_option("VALUE", *value, "Value name")->required();
        get->callback([&exitCode, subkey, value] {
            SettingsStore store = SettingsStore::open();
            std::string key = relativeSubkey(*subkey);
            const SettingKey* known = findSettingKey(key, *value);
            std::cout << (known ? store.read(*known)
                                : store.read(key, *value, kDefaultReadBuffer, ""))
                      << '\n';
            exitCode = kExitOk;
        });
    }
    {
        auto subkey = std::make_shared<std::string>();
        auto value = std::make_shared<std::string>();
        auto text = std::make_shared<std::string>();
        auto* set =
            settings->add_subcommand("set", "Write a value, e.g. 'settings set Test Test n'");
        set->add_option("SUBKEY", *subkey, "Subkey below Microsoft\\Application\\Twelve")
            ->required();
        set->add_option("VALUE", *value, "Value name")->required();
        set->add_option("TEXT", *text, "Data to store (flags are y or n)")->required();
        set->callback([&exitCode, subkey, value, text] {
            std::string error;
            const std::string key = relativeSubkey(*subkey);
            if (const SettingKey* known = findSettingKey(key, *value)) {
                error = settingValueError(*known, *text);
                if (!error.empty()) {
                    exitCode = fail(error);
                    return;
                }
            }
            SettingsStore store = SettingsStore::open();
            if (key == keys::kSenderProfile.subkey && *value == keys::kSenderProfile.value) {
                // The switch moves its options with it, however it is set.
                exitCode = switchStoredProfile(store, *parseProfile(*text), &error) ? kExitOk
                                                                                    : fail(error);
                return;
            }
            exitCode = store.write(key, *value, *text, &error) ? kExitOk : fail(error);
        });
    }
    {
        auto choice = std::make_shared<std::string>();
        auto* profile = settings->add_subcommand(
            "profile",
            "Follow current bulk-sender rules (current) or not (as-specified): switches the "
            "readable text part, List-Id, MX by preference and the lower-case footer together; "
            "without a choice, print the switch and what it set");
        profile->add_option("PROFILE", *choice, "current or as-specified")
            ->check(CLI::IsMember({"current", "as-specified"}));
        profile->callback([&exitCode, choice] { exitCode = runProfile(*choice); });
    }

    auto* paths =
        app.add_subcommand("paths", "Print the program folder, data root and settings file");
    paths->callback([&exitCode] {
        SettingsStore store = SettingsStore::open();
        Paths p = Paths::current(store);
        std::string error;
        if (!p.ensureFolders(&error)) {
            exitCode = fail(error);
            return;
        }
        std::cout << "program folder: " << p.programFolder() << '\n'
                  << "data root: " << p.dataRoot() << '\n'
                  << "settings file: " << store.path() << '\n';
        exitCode = kExitOk;
    });

    auto* address = app.add_subcommand("address", "Check addresses or find them in a file");
    address->require_subcommand(1);
    {
        auto texts = std::make_shared<std::vector<std::string>>();
        auto* check = address->add_subcommand("check", "Print 'valid' or 'invalid' for each text");
        check->add_option("TEXT", *texts, "Texts to check, each as a whole")->required();
        check->callback([&exitCode, texts] {
            for (const auto& t : *texts)
                std::cout << (isEmailAddress(t) ? "valid" : "invalid") << '\n';
            exitCode = kExitOk;
        });
    }
    {
        auto file = std::make_shared<std::string>();
        auto* find = address->add_subcommand("find", "Print every address found in FILE, in order");
        find->add_option("FILE", *file, "Text file to search")->required();
        find->callback([&exitCode, file] {
            std::string text, error;
            if (!readFile(*file, text, &error)) {
                exitCode = fail(error);
                return;
            }
            std::string out;
            forEachEmailAddress(text, [&](std::string_view a) {
                out.append(a);
                out += '\n';
                if (out.size() > (1 << 16)) {
                    std::cout << out;
                    out.clear();
                }
            });
            std::cout << out;
            exitCode = kExitOk;
        });
    }
}

}  // namespace qm::cli
