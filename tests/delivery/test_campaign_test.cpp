#include "delivery/test_campaign.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(TestCampaign, AddressRules) {
    struct Case {
        const char* name;
        const char* text;
        std::optional<std::string_view> want;
    } cases[] = {
        {"empty", "", kMsgEnterTestAddress},
        {"one", "a@x.com", std::nullopt},
        {"five with commas", "a@x.com,b@x.com,c@x.com,d@x.com,e@x.com", std::nullopt},
        {"six", "a@x.com,b@x.com,c@x.com,d@x.com,e@x.com,f@x.com", kMsgTooManyTestAddresses},
        {"five and a final comma", "a@x.com,b@x.com,c@x.com,d@x.com,e@x.com,", std::nullopt},
        {"five and a final semicolon", "a@x.com;b@x.com;c@x.com;d@x.com;e@x.com;",
         kMsgTooManyTestAddresses},
        {"two at-signs", "a@x.com,b@@x.com,c@x.com", kMsgInvalidTestAddress},
        {"invalid last", "a@x.com,nope", kMsgInvalidTestAddress},
        {"blanks around", "a@x.com, b@x.com", std::nullopt},
        {"double separator skipped", "a@x.com,,b@x.com", std::nullopt},
        {"blanks do not use up the limit", "a@x.com , b@x.com , c@x.com , d@x.com , e@x.com",
         std::nullopt},
        {"six with blanks", "a@x.com , b@x.com , c@x.com , d@x.com , e@x.com , f@x.com",
         kMsgTooManyTestAddresses},
    };
    for (const auto& c : cases) EXPECT_EQ(checkTestAddresses(c.text), c.want) << c.name;
}

}  // namespace
}  // namespace qm
