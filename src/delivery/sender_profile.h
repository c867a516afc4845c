// "Follow current bulk-sender rules": one switch over the options that today's large mailbox
// providers expect of bulk mail, each of which stays a choice of its own.
//
// Entry points: switchProfile() (what switching on or off does to the options),
// optionsSetByProfile() (what the SMTP Settings tab marks), profileValues() (one run's options
// under a profile given on the command line), and the store's load/save pairs.
//   - On, the profile sets the readable text part, List-Id, MX by preference and the lower-case
//     footer markup, and remembers which of them it changed. One-click unsubscribing needs no
//     switch: List-Unsubscribe-Post goes out whenever an https URL template is set.
//   - Off, it puts back the value each remembered option had by default, but only where the
//     option still holds the profile's value: what the user changed afterwards, or had chosen
//     before, stays as it is. With nothing changed since, switching off gives every copy its
//     bytes of before.
//   - Each option can be changed on its own at any time; the profile only marks which ones it set.
//
// Failure: the save functions return false with the store's text; loading never fails (unknown
// stored names read as the default, unknown option names in the remembered list are dropped).
// Threads: any; the store serialises its own writes.
// Standard: none.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_settings.h"
#include "message/campaign_message.h"

namespace qm {

class SettingsStore;

enum class SenderProfile { AsSpecified, Current };
enum class ProfileOption { TextPart, ListId, MxOrder, FooterMarkup };
inline constexpr ProfileOption kProfileOptions[] = {ProfileOption::TextPart, ProfileOption::ListId,
                                                    ProfileOption::MxOrder,
                                                    ProfileOption::FooterMarkup};

// The options the profile decides, as they stand.
struct ProfileOptions {
    TextPartStyle textPart = TextPartStyle::HtmlSource;
    bool listId = false;
    MxOrder mxOrder = MxOrder::AsAnswered;
    FooterMarkup footerMarkup = FooterMarkup::Classic;
};

struct ProfileState {
    SenderProfile profile = SenderProfile::AsSpecified;
    std::vector<ProfileOption> changed;  // what switching on changed, in kProfileOptions order
};

// "current" and "as-specified" and back; nullopt for anything else.
std::string_view profileName(SenderProfile profile);
std::optional<SenderProfile> parseProfile(std::string_view text);
// The stored name of an option ("text-part", "list-id", "mx-order", "footer-markup") and the
// words the screens and the command line show for it set by the profile.
std::string_view profileOptionName(ProfileOption option);
std::string_view profileOptionLabel(ProfileOption option);

// Every option at the value `profile` gives it: the bulk-sender values for Current, the defaults
// for AsSpecified.
ProfileOptions profileValues(SenderProfile profile);
bool holdsProfileValue(const ProfileOptions& options, ProfileOption option);

// Switching to `to`; switching to the profile already on changes nothing.
void switchProfile(SenderProfile to, ProfileOptions& options, ProfileState& state);
// The remembered options that still hold the profile's value; empty while the profile is off.
std::vector<ProfileOption> optionsSetByProfile(const ProfileOptions& options,
                                               const ProfileState& state);

ProfileOptions loadProfileOptions(const SettingsStore& store);
bool saveProfileOptions(SettingsStore& store, const ProfileOptions& options, std::string* error);
ProfileState loadProfileState(const SettingsStore& store);
bool saveProfileState(SettingsStore& store, const ProfileState& state, std::string* error);

// The stored switch turned to `to`, with the options it moves, read and written in the store.
bool switchStoredProfile(SettingsStore& store, SenderProfile to, std::string* error);

}  // namespace qm
