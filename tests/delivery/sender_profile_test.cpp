// "Follow current bulk-sender rules": what switching on and off does to the options it decides,
// what it marks as its own, and that a stored round trip leaves the settings every copy is built
// from as they were.
#include "delivery/sender_profile.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "message/mail_shape.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using O = ProfileOption;
const std::vector<ProfileOption> kAll(std::begin(kProfileOptions), std::end(kProfileOptions));

bool sameOptions(const ProfileOptions& a, const ProfileOptions& b) {
    return a.textPart == b.textPart && a.listId == b.listId && a.mxOrder == b.mxOrder &&
           a.footerMarkup == b.footerMarkup;
}

TEST(SenderProfile, SwitchingOnAndOff) {
    const ProfileOptions defaults;
    const ProfileOptions bulk = profileValues(SenderProfile::Current);
    EXPECT_TRUE(sameOptions(profileValues(SenderProfile::AsSpecified), defaults));
    EXPECT_EQ(bulk.textPart, TextPartStyle::Readable);
    EXPECT_TRUE(bulk.listId);
    EXPECT_EQ(bulk.mxOrder, MxOrder::ByPreference);
    EXPECT_EQ(bulk.footerMarkup, FooterMarkup::LowerCase);

    struct {
        const char* name;
        ProfileOptions before;
        // after switching on: a change of the user's (applied to the options), then off
        void (*userChange)(ProfileOptions&);
        std::vector<ProfileOption> changed, markedAfterChange;
        ProfileOptions afterOff;
    } cases[] = {
        {"from the defaults: all four, all back", defaults, [](ProfileOptions&) {}, kAll, kAll,
         defaults},
        {"an option already so is not the profile's, and stays when it goes off",
         {TextPartStyle::Readable, false, MxOrder::AsAnswered, FooterMarkup::Classic},
         [](ProfileOptions&) {},
         {O::ListId, O::MxOrder, O::FooterMarkup},
         {O::ListId, O::MxOrder, O::FooterMarkup},
         {TextPartStyle::Readable, false, MxOrder::AsAnswered, FooterMarkup::Classic}},
        {"what the user changed afterwards is no longer marked and is kept",
         defaults,
         [](ProfileOptions& o) {
             o.footerMarkup = FooterMarkup::Classic;
             o.listId = false;
         },
         kAll,
         {O::TextPart, O::MxOrder},
         defaults},
        {"everything already so: nothing to mark or undo",
         bulk,
         [](ProfileOptions&) {},
         {},
         {},
         bulk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileOptions o = c.before;
        ProfileState state;
        EXPECT_TRUE(optionsSetByProfile(o, state).empty());
        switchProfile(SenderProfile::Current, o, state);
        EXPECT_TRUE(sameOptions(o, bulk));
        EXPECT_EQ(state.profile, SenderProfile::Current);
        EXPECT_EQ(state.changed, c.changed);
        // Switching on again changes nothing, not even the remembered list.
        switchProfile(SenderProfile::Current, o, state);
        EXPECT_EQ(state.changed, c.changed);
        c.userChange(o);
        EXPECT_EQ(optionsSetByProfile(o, state), c.markedAfterChange);
        switchProfile(SenderProfile::AsSpecified, o, state);
        EXPECT_TRUE(sameOptions(o, c.afterOff));
        EXPECT_EQ(state.profile, SenderProfile::AsSpecified);
        EXPECT_TRUE(state.changed.empty());
        EXPECT_TRUE(optionsSetByProfile(o, state).empty());
    }
}

// In the store: on sets the options every run reads, off puts back the settings of before, so
// every copy is built as before; what the store holds that is no option name is ignored.
TEST(SenderProfile, StoredRoundTrip) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    std::string error;
    ASSERT_TRUE(switchStoredProfile(store, SenderProfile::Current, &error)) << error;
    EXPECT_EQ(store.read(keys::kSenderProfile), "current");
    MailShape shape = loadMailShape(store);
    EXPECT_EQ(shape.textPart, TextPartStyle::Readable);
    EXPECT_TRUE(shape.listId);
    EXPECT_EQ(shape.footerMarkup, FooterMarkup::LowerCase);
    EXPECT_EQ(loadDeliverySettings(store).mxOrder, MxOrder::ByPreference);
    ProfileState state = loadProfileState(store);
    EXPECT_EQ(state.changed, kAll);
    EXPECT_EQ(optionsSetByProfile(loadProfileOptions(store), state), kAll);

    // The user turns List-Id off on its own; the profile no longer claims it.
    ASSERT_TRUE(store.writeFlag(keys::kListId, false));
    EXPECT_EQ(optionsSetByProfile(loadProfileOptions(store), loadProfileState(store)),
              (std::vector<ProfileOption>{O::TextPart, O::MxOrder, O::FooterMarkup}));

    ASSERT_TRUE(switchStoredProfile(store, SenderProfile::AsSpecified, &error)) << error;
    EXPECT_EQ(store.read(keys::kSenderProfile), "as-specified");
    shape = loadMailShape(store);
    EXPECT_EQ(shape.textPart, TextPartStyle::HtmlSource);
    EXPECT_FALSE(shape.listId);
    EXPECT_EQ(shape.footerMarkup, FooterMarkup::Classic);
    EXPECT_EQ(loadDeliverySettings(store).mxOrder, MxOrder::AsAnswered);
    EXPECT_TRUE(loadProfileState(store).changed.empty());

    ASSERT_TRUE(store.write(keys::kSenderProfile, "current"));
    ASSERT_TRUE(store.write(keys::kProfileSet, "mx-order,,bogus,list-id"));
    state = loadProfileState(store);
    EXPECT_EQ(state.changed, (std::vector<ProfileOption>{O::ListId, O::MxOrder}));
    ASSERT_TRUE(store.write(keys::kSenderProfile, "sometimes"));
    EXPECT_EQ(loadProfileState(store).profile, SenderProfile::AsSpecified);
}

}  // namespace
}  // namespace qm
