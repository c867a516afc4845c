#include "delivery/sender_profile.h"

#include <algorithm>

#include "config/settings.h"
#include "message/mail_shape.h"

namespace qm {

std::string_view profileName(SenderProfile profile) {
    return profile == SenderProfile::Current ? "current" : "as-specified";
}

std::optional<SenderProfile> parseProfile(std::string_view text) {
    if (text == "current") return SenderProfile::Current;
    if (text == "as-specified") return SenderProfile::AsSpecified;
    return std::nullopt;
}

std::string_view profileOptionName(ProfileOption option) {
    switch (option) {
        case ProfileOption::TextPart:
            return "text-part";
        case ProfileOption::ListId:
            return "list-id";
        case ProfileOption::MxOrder:
            return "mx-order";
        case ProfileOption::FooterMarkup:
            break;
    }
    return "footer-markup";
}

std::string_view profileOptionLabel(ProfileOption option) {
    switch (option) {
        case ProfileOption::TextPart:
            return "readable text part";
        case ProfileOption::ListId:
            return "List-Id";
        case ProfileOption::MxOrder:
            return "MX by preference";
        case ProfileOption::FooterMarkup:
            break;
    }
    return "lower-case footer";
}

ProfileOptions profileValues(SenderProfile profile) {
    if (profile == SenderProfile::AsSpecified) return {};
    return {TextPartStyle::Readable, true, MxOrder::ByPreference, FooterMarkup::LowerCase};
}

namespace {

bool sameValue(const ProfileOptions& a, const ProfileOptions& b, ProfileOption option) {
    switch (option) {
        case ProfileOption::TextPart:
            return a.textPart == b.textPart;
        case ProfileOption::ListId:
            return a.listId == b.listId;
        case ProfileOption::MxOrder:
            return a.mxOrder == b.mxOrder;
        case ProfileOption::FooterMarkup:
            break;
    }
    return a.footerMarkup == b.footerMarkup;
}

void copyValue(ProfileOptions& to, const ProfileOptions& from, ProfileOption option) {
    switch (option) {
        case ProfileOption::TextPart:
            to.textPart = from.textPart;
            return;
        case ProfileOption::ListId:
            to.listId = from.listId;
            return;
        case ProfileOption::MxOrder:
            to.mxOrder = from.mxOrder;
            return;
        case ProfileOption::FooterMarkup:
            to.footerMarkup = from.footerMarkup;
            return;
    }
}

bool remembered(const ProfileState& state, ProfileOption option) {
    return std::find(state.changed.begin(), state.changed.end(), option) != state.changed.end();
}

}  // namespace

bool holdsProfileValue(const ProfileOptions& options, ProfileOption option) {
    return sameValue(options, profileValues(SenderProfile::Current), option);
}

void switchProfile(SenderProfile to, ProfileOptions& options, ProfileState& state) {
    if (to == state.profile) return;
    const ProfileOptions target = profileValues(to);
    if (to == SenderProfile::Current) {
        state.changed.clear();
        for (ProfileOption option : kProfileOptions) {
            if (sameValue(options, target, option)) continue;
            copyValue(options, target, option);
            state.changed.push_back(option);
        }
    } else {
        for (ProfileOption option : kProfileOptions)
            if (remembered(state, option) && holdsProfileValue(options, option))
                copyValue(options, target, option);
        state.changed.clear();
    }
    state.profile = to;
}

std::vector<ProfileOption> optionsSetByProfile(const ProfileOptions& options,
                                               const ProfileState& state) {
    std::vector<ProfileOption> set;
    if (state.profile != SenderProfile::Current) return set;
    for (ProfileOption option : kProfileOptions)
        if (remembered(state, option) && holdsProfileValue(options, option)) set.push_back(option);
    return set;
}

ProfileOptions loadProfileOptions(const SettingsStore& store) {
    const MailShape shape = loadMailShape(store);
    ProfileOptions o;
    o.textPart = shape.textPart;
    o.listId = shape.listId;
    o.footerMarkup = shape.footerMarkup;
    o.mxOrder = parseMxOrder(store.read(keys::kMxOrder));
    return o;
}

bool saveProfileOptions(SettingsStore& store, const ProfileOptions& o, std::string* error) {
    return store.write(keys::kTextPart, textPartName(o.textPart), error) &&
           store.writeFlag(keys::kListId, o.listId, error) &&
           store.write(keys::kMxOrder, mxOrderName(o.mxOrder), error) &&
           store.write(keys::kFooterMarkup, footerMarkupName(o.footerMarkup), error);
}

ProfileState loadProfileState(const SettingsStore& store) {
    ProfileState state;
    state.profile =
        parseProfile(store.read(keys::kSenderProfile)).value_or(SenderProfile::AsSpecified);
    const std::string list = store.read(keys::kProfileSet);
    for (ProfileOption option : kProfileOptions) {
        const std::string_view name = profileOptionName(option);
        for (std::size_t pos = 0; pos <= list.size();) {
            std::size_t end = list.find(',', pos);
            if (end == std::string::npos) end = list.size();
            if (std::string_view(list).substr(pos, end - pos) == name) {
                state.changed.push_back(option);
                break;
            }
            pos = end + 1;
        }
    }
    return state;
}

bool saveProfileState(SettingsStore& store, const ProfileState& state, std::string* error) {
    std::string list;
    for (ProfileOption option : state.changed) {
        if (!list.empty()) list += ',';
        list += profileOptionName(option);
    }
    // The remembered list first: a profile stored as on always has its list beside it.
    return store.write(keys::kProfileSet, list, error) &&
           store.write(keys::kSenderProfile, profileName(state.profile), error);
}

bool switchStoredProfile(SettingsStore& store, SenderProfile to, std::string* error) {
    ProfileOptions options = loadProfileOptions(store);
    ProfileState state = loadProfileState(store);
    // Nothing to switch, nothing written: a store that never had the switch stays without it.
    if (state.profile == to) return true;
    switchProfile(to, options, state);
    return saveProfileOptions(store, options, error) && saveProfileState(store, state, error);
}

}  // namespace qm
