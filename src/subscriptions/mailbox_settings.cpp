#include "subscriptions/mailbox_settings.h"

#include <charconv>
#include <ctime>
#include <random>

#include "common/text.h"
#include "config/settings.h"

namespace qm {

bool parsePop3Security(std::string_view text, Pop3Security& out) {
    const std::string t = lowerAscii(trimWhite(text));
    if (t == "none")
        out = Pop3Security::None;
    else if (t == "stls" || t == "starttls")
        out = Pop3Security::StartTls;
    else if (t == "tls")
        out = Pop3Security::Tls;
    else
        return false;
    return true;
}

std::string_view pop3SecurityName(Pop3Security security) {
    switch (security) {
        case Pop3Security::StartTls:
            return "stls";
        case Pop3Security::Tls:
            return "tls";
        case Pop3Security::None:
            break;
    }
    return "none";
}

MailboxSettings readMailboxSettings(const SettingsStore& store) {
    MailboxSettings s;
    s.remember = store.readFlag(keys::kInfoRemember);
    if (!parsePop3Security(store.read(keys::kInfoSecurity), s.security))
        s.security = Pop3Security::None;
    const std::string port = store.read(keys::kInfoPort);
    int p = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec == std::errc() && end == port.data() + port.size() && p > 0 && p < 65536)
        s.port = p;
    else
        s.port = s.security == Pop3Security::Tls ? Pop3Client::kDefaultTlsPort
                                                 : Pop3Client::kDefaultPort;
    s.verifyCert = store.readFlag(keys::kInfoVerifyCert);
    if (s.remember) {
        s.user = store.read(keys::kInfoId);
        s.password = unscramblePassword(store.read(keys::kInfoPass));
        s.server = store.read(keys::kInfoMailServer);
    }
    return s;
}

bool saveMailboxSettings(SettingsStore& store, const MailboxSettings& s, std::string* error) {
    if (!s.remember) return store.writeFlag(keys::kInfoRemember, false, error);
    return store.write(keys::kInfoId, s.user, error) &&
           store.write(keys::kInfoPass, scramblePassword(s.password), error) &&
           store.write(keys::kInfoMailServer, s.server, error) &&
           store.write(keys::kInfoPort, std::to_string(s.port), error) &&
           store.write(keys::kInfoSecurity, pop3SecurityName(s.security), error) &&
           store.writeFlag(keys::kInfoVerifyCert, s.verifyCert, error) &&
           store.writeFlag(keys::kInfoRemember, true, error);
}

std::string scramblePassword(std::string_view password, std::uint32_t seed) {
    std::minstd_rand gen(seed == 0 ? 1 : seed);
    std::string out;
    for (char c : password) {
        unsigned code = static_cast<unsigned char>(c);
        char digits[4];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + code % 7);
            code /= 7;
        } while (code > 0);
        while (n > 0) out += digits[--n];
        const unsigned r = static_cast<unsigned>(gen() % 32768);
        unsigned m = 5 + r * 100 / 32767;
        do {
            out += static_cast<char>('a' + m % 26);
            m /= 26;
        } while (m > 0);
    }
    return out;
}

std::string scramblePassword(std::string_view password) {
    if (password.empty()) return {};
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    return scramblePassword(password, now * static_cast<unsigned char>(password.front()));
}

std::string unscramblePassword(std::string_view stored) {
    std::string out;
    std::size_t pos = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isLower = [](char c) { return c >= 'a' && c <= 'z'; };
    while (pos < stored.size()) {
        const std::size_t letter = [&] {
            for (std::size_t i = pos; i < stored.size(); ++i)
                if (isLower(stored[i])) return i;
            return std::string_view::npos;
        }();
        if (letter == std::string_view::npos) break;
        unsigned code = 0;
        for (std::size_t i = pos; i < letter; ++i)
            if (isDigit(stored[i]))
                code = (code * 7 + static_cast<unsigned>(stored[i] - '0')) % 256;
        out += static_cast<char>(code);
        pos = letter;
        while (pos < stored.size() && !isDigit(stored[pos])) ++pos;
    }
    return out;
}

PasswordChangeCheck checkPasswordChange(std::string_view user, std::string_view oldPassword,
                                        std::string_view newPassword, std::string_view confirm,
                                        std::string_view storedPass) {
    using S = PasswordChangeStatus;
    using F = PasswordField;
    auto refuse = [](S s, const char* text, F f) { return PasswordChangeCheck{s, text, f}; };
    if (trimWhite(user).empty()) return refuse(S::UserEmpty, "Please fill the user name.", F::User);
    const std::string_view old = trimWhite(oldPassword);
    if (old.empty()) return refuse(S::OldEmpty, "Please fill the old password.", F::Old);
    // A change needs a stored password: an empty one never equals a typed one.
    if (old != unscramblePassword(storedPass))
        return refuse(S::OldWrong, "Your old password is not correct.", F::Old);
    const std::string_view next = trimWhite(newPassword);
    if (next.empty()) return refuse(S::NewEmpty, "Please fill the new password.", F::New);
    const std::string_view again = trimWhite(confirm);
    if (again.empty())
        return refuse(S::ConfirmEmpty, "Please enter new password once again to confirm.",
                      F::Confirm);
    if (next != again)
        return refuse(S::ConfirmDiffers,
                      "Your new password do not match with the conforming password.", F::Confirm);
    return {};
}

bool applyPasswordChange(SettingsStore& store, std::string_view user, std::string_view newPassword,
                         std::string* error) {
    return store.write(keys::kInfoId, trimWhite(user), error) &&
           store.write(keys::kInfoPass, scramblePassword(trimWhite(newPassword)), error);
}

}  // namespace qm
