#include "groups/address.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <random>

namespace qm {
namespace {

TEST(IsEmailAddress, AcceptAndReject) {
    struct Case {
        const char* text;
        bool want;
    } cases[] = {
        {"john.smith@example.com", true},
        {"John_Smith@Mail-Server.example.co", true},
        {"a@b.cd", true},
        {"x@y.abcdefghij", true},    // last label of ten
        {"x@y.abcdefghijk", false},  // of eleven
        {"x@y.c", false},            // of one
        {"john+tag@example.com", false},
        {"john-smith@example.com", false},
        {"a..b@example.com", false},
        {".a@example.com", false},
        {"a.@example.com", false},
        {"a@.example.com", false},
        {"a@example..com", false},
        {"a@example.com.", false},
        {" a@example.com", false},
        {"a@example.com ", false},
        {"\"a\"@example.com", false},
        {"a@[127.0.0.1]", false},
        {"jos\xC3\xA9@example.com", false},
        {"a@b@c.com", false},
        {"", false},
        {"a@b-c_d.ef", true},  // any separator inside the domain
        {"a@b.cd-ef", false},  // but a dot before the last label
        {"a@bc", false},       // one label only
        {"a_b.c@d.e.fg", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isEmailAddress(c.text), c.want) << c.text;
        EXPECT_EQ(isEmailAddressQuick(c.text), c.want) << "quick: " << c.text;
    }
}

TEST(FindEmailAddresses, InOrderWithDuplicatesAndAdjacentText) {
    auto found = findEmailAddresses(
        "To: Ann <ann@x.com>, bob.smith@mail.example.org; ann@x.com\n"
        "weird: -c_d@e-f.gh+ tail@x.abcdefghijkl a..b@c.de @nobody.com x@y.z");
    EXPECT_EQ(found,
              (std::vector<std::string>{"ann@x.com", "bob.smith@mail.example.org", "ann@x.com",
                                        "c_d@e-f.gh", "tail@x.abcdefghij", "b@c.de"}));
}

// Repeated regex searches from each previous match's end, as the rule is defined; the fast
// path must give exactly the same addresses.
std::vector<std::string> reference(const std::string& text) {
    static const boost::regex re(kAddressPattern);
    std::vector<std::string> out;
    for (boost::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
        out.push_back(it->str());
    return out;
}

TEST(FindEmailAddresses, SameAsPlainRegexSearchOnRandomText) {
    std::mt19937 rng(7);
    const std::string alphabet = "ab1Z._-@@ .,;<>\n";
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int n = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
        ASSERT_EQ(findEmailAddresses(text), reference(text)) << "text: " << text;
    }
}

TEST(FindEmailAddresses, HostileTextWithoutAtFinishes) {
    std::string hostile;
    for (int i = 0; i < 5'000'000; ++i) hostile += (i % 3 == 2) ? '.' : 'a';
    EXPECT_TRUE(findEmailAddresses(hostile).empty());
    hostile += "@";
    hostile += std::string(1'000'000, 'b');
    EXPECT_TRUE(findEmailAddresses(hostile).empty());
}

TEST(ViolatesRule, CharacterSets) {
    EXPECT_EQ(kLettersOnlyRule.size(), 42u);
    EXPECT_EQ(kNumberRule.size(), 82u);
    EXPECT_FALSE(violatesRule("Anne Marie M\xC3\xBCller", kLettersOnlyRule));
    EXPECT_TRUE(violatesRule("Ann2", kLettersOnlyRule));
    EXPECT_TRUE(violatesRule("O'Brien", kLettersOnlyRule));
    EXPECT_FALSE(violatesRule("+44 20-7946 0958", kNumberRule));
    EXPECT_TRUE(violatesRule("555 x12", kNumberRule));
    EXPECT_TRUE(violatesRule("(555)", kNumberRule));
}

TEST(ParseAddressList, SeparatorsOrderAndCaseInsensitiveDuplicates) {
    auto list = parseAddressList("  a@x.com ; b@y.org,  A@X.COM;B@Y.ORG ; bad address, c@z.net\n");
    EXPECT_EQ(list.addresses, (std::vector<std::string>{"c@z.net", "b@y.org", "a@x.com"}));
    EXPECT_TRUE(list.message.empty());

    EXPECT_TRUE(parseAddressList("a@x.com b@y.org").addresses.empty());
    EXPECT_TRUE(parseAddressList("a@x.com\nb@y.org").addresses.empty());
    EXPECT_TRUE(parseAddressList("").addresses.empty());
    EXPECT_EQ(parseAddressList(";;,a@x.com;;").addresses.size(), 1u);
}

TEST(ParseAddressList, StopsAtOneHundredThousandWithOneMessage) {
    std::string text;
    for (int i = 0; i < 100'002; ++i) text += "u" + std::to_string(i) + "@x.com;";
    auto list = parseAddressList(text);
    EXPECT_EQ(list.addresses.size(), kMaxTypedAddresses);
    EXPECT_EQ(list.message, kMsgTooManyAddresses);
    EXPECT_EQ(list.addresses.front(), "u99999@x.com");

    // A full list followed only by invalid tokens shows nothing: they are dropped first.
    std::string exact;
    for (int i = 0; i < 100'000; ++i) exact += "u" + std::to_string(i) + "@x.com,";
    EXPECT_TRUE(parseAddressList(exact + "junk").message.empty());
}

}  // namespace
}  // namespace qm
