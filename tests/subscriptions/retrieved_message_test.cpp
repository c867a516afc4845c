// The split of a retrieved message: unstuffing, the header lookup in its fixed order, and the
// To/Cc lists.
#include <gtest/gtest.h>

#include "subscriptions/retrieved_message.h"

namespace qm {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(RetrievedMessageTest, HeaderFieldsInTheirOrder) {
    struct Case {
        const char* name;
        std::string text;
        std::string from, subject;
        bool dated;
        Pairs addresses;
    };
    const Case cases[] = {
        {"every field",
         "From: a@x.test\r\nTo: b@y.test\r\nDate: now\r\nSubject: Hi\r\nCc: "
         "c@z.test\r\n\r\nbody\r\n",
         "a@x.test",
         "Hi",
         true,
         {{"b@y.test", ""}, {"c@z.test", ""}}},
        {"fields found in any line order",
         "Subject: Hi\r\nDate: now\r\nTo: b@y.test\r\nFrom: a@x.test\r\n\r\n",
         "a@x.test",
         "Hi",
         true,
         {{"b@y.test", ""}}},
        {"no Date: the subject stays empty",
         "From: a@x.test\r\nTo: b@y.test\r\nSubject: Unsubscribe-G\r\n\r\n",
         "a@x.test",
         "",
         false,
         {{"b@y.test", ""}}},
        {"no To: nothing after From",
         "From: a@x.test\r\nDate: d\r\nSubject: s\r\n\r\n",
         "a@x.test",
         "",
         false,
         {}},
        {"exact case and one blank", "from: a@x.test\r\nFrom:b@x.test\r\n\r\n", "", "", false, {}},
        {"field inside a value is no field",
         "X-Note: From: evil@x.test\r\nFrom: good@x.test\r\nTo: t\r\nDate: d\r\nSubject: s\r\n\r\n",
         "good@x.test",
         "s",
         true,
         {{"t", ""}}},
        {"folded value is not joined",
         "From: a@x.test\r\nTo: b@y.test\r\nDate: d\r\nSubject: one\r\n two\r\n\r\n",
         "a@x.test",
         "one",
         true,
         {{"b@y.test", ""}}},
        {"no empty line: all header",
         "From: a@x.test\r\nTo: t\r\n",
         "a@x.test",
         "",
         false,
         {{"t", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RetrievedMessage m = parseRetrievedMessage(c.text, 1234);
        EXPECT_EQ(m.from, c.from);
        EXPECT_EQ(m.subject, c.subject);
        EXPECT_EQ(m.date.has_value(), c.dated);
        if (c.dated) {
            EXPECT_EQ(*m.date, 1234);
        }
        EXPECT_EQ(m.addresses, c.addresses);
    }
}

TEST(RetrievedMessageTest, AddressListsSplitAtSemicolons) {
    struct Case {
        const char* value;
        Pairs want;
    };
    const Case cases[] = {
        {"Jane Doe <jane@x.test>; bob@y.test", {{"jane@x.test", "Jane Doe "}, {" bob@y.test", ""}}},
        {"a@x.test, b@x.test", {{"a@x.test, b@x.test", ""}}},
        {"<a@x.test>;>b<;c@x.test", {{"a@x.test", ""}}},
        {"Ann <a@x.test;b@x.test", {}},
        {"a@x.test;;b@x.test;", {{"a@x.test", ""}, {"b@x.test", ""}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        Pairs got;
        splitAddressHeader(c.value, got);
        EXPECT_EQ(got, c.want) << c.value;
    }
}

TEST(RetrievedMessageTest, DotsUnstuffedOnEveryLine) {
    RetrievedMessage m =
        parseRetrievedMessage("From: a@x.test\r\n\r\n..first\r\n..\r\n...\r\n.x\r\nno.dot\r\n", 0);
    EXPECT_EQ(m.body, ".first\r\n.\r\n..\r\nx\r\nno.dot\r\n");
    EXPECT_EQ(m.header, "From: a@x.test");
    EXPECT_EQ(unstuffDots(".."), ".");
    EXPECT_EQ(unstuffDots("a\n.b\r\n..c"), "a\nb\r\n.c");
}

}  // namespace
}  // namespace qm
