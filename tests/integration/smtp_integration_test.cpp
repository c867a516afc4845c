// The SMTP client against real servers: Postfix's smtp-sink (what arrives, byte for byte) and an
// aiosmtpd server (AUTH LOGIN, STARTTLS, implicit TLS, per-recipient refusal).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/base64.h"
#include "common/file_util.h"
#include "delivery/send_log_buffer.h"
#include "delivery/smtp_client.h"
#include "peer_env.h"

namespace qm {
namespace {

using test::peerEnv;
using test::peerPort;

constexpr std::string_view kHeader =
    "From: \"Ann\" <ann@example.test>\r\nTo: <bob@example.test>\r\nSubject: dots\r\n\r\n";
// A body line that is a single dot, one that starts with a dot, the first line a dot line,
// bare LF line ends.
constexpr std::string_view kBody = ".starts the body\r\nplain\n.\n..two\r\n.dot\r\nlast line";

std::string lfOnly(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

// What the server should store: the message with CR LF line ends and no dot-stuffing.
std::string storedForm() {
    std::string body;
    for (std::size_t i = 0; i < kBody.size(); ++i) {
        if (kBody[i] == '\n' && (i == 0 || kBody[i - 1] != '\r')) body += '\r';
        body += kBody[i];
    }
    return std::string(kHeader) + body + "\r\n";
}

bool deliver(SmtpClient& client, std::vector<std::string_view> rcpts = {"bob@example.test"}) {
    return client.connect() &&
           client.sendMessage({"<ann@example.test>", std::move(rcpts), kHeader, kBody}) &&
           client.disconnect();
}

TEST(SmtpSinkTest, BytesReceivedEqualTheMessageAfterTransparency) {
    SmtpClient client("127.0.0.1", peerPort("QM_SINK_PORT"));
    client.setHelloDomain("example.test");
    ASSERT_TRUE(deliver(client)) << client.lastError();

    std::string dir = peerEnv("QM_SINK_DUMP");
    std::vector<std::string> files;
    // The sink writes after its reply; a deadline, as a busy machine delays that write.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (files.empty() && std::chrono::steady_clock::now() < deadline) {
        files = listFiles(dir, "");
        if (files.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(files.size(), 1u);
    std::string dump;
    ASSERT_TRUE(readFile(dir + "/" + files[0], dump));
    EXPECT_NE(dump.find("X-Helo-Args: \n"), std::string::npos) << dump;  // bare "HELO "
    EXPECT_NE(dump.find("X-Mail-Args: <ann@example.test>\n"), std::string::npos) << dump;
    // The message follows the sink's Received header (three lines) and ends with an empty line.
    std::size_t received = dump.find("Received: ");
    ASSERT_NE(received, std::string::npos);
    std::size_t start = received;
    for (int i = 0; i < 3; ++i) start = dump.find('\n', start) + 1;
    EXPECT_EQ(dump.substr(start), lfOnly(storedForm()) + "\n");
}

TEST(SmtpSinkTest, RequiredStartTlsThatIsNotOfferedFails) {
    SmtpClient client("127.0.0.1", peerPort("QM_SINK_PORT"));
    client.setSecurity({SmtpSecurity::StartTls, true, {}});
    EXPECT_FALSE(client.connect());
    EXPECT_EQ(client.lastError(), "STARTTLS required but not offered by the server");
}

struct AioCase {
    const char* name;
    SmtpSecurity mode;
    bool implicitPort;
    bool verify;
    bool trustTestCa;
    const char* host;
    const char* password;
    bool wantOk;
    std::string wantError;  // prefix
    bool wantTls;
};

TEST(AioSmtpdTest, SecurityAndAuthentication) {
    const AioCase cases[] = {
        {"AUTH LOGIN in clear text", SmtpSecurity::None, false, true, false, "127.0.0.1", "s3cret",
         true, "", false},
        {"wrong password", SmtpSecurity::None, false, true, false, "127.0.0.1", "nope", false,
         "Authentication Failed", false},
        {"STARTTLS with VerifyCert n", SmtpSecurity::StartTls, false, false, false, "127.0.0.1",
         "s3cret", true, "", true},
        {"implicit TLS with VerifyCert n", SmtpSecurity::Tls, true, false, false, "127.0.0.1",
         "s3cret", true, "", true},
        {"self-signed certificate refused by STARTTLS", SmtpSecurity::StartTls, false, true, false,
         "127.0.0.1", "s3cret", false, "Cannot start TLS: certificate refused: self", false},
        {"self-signed certificate refused by implicit TLS", SmtpSecurity::Tls, true, true, false,
         "127.0.0.1", "s3cret", false, "Cannot start TLS: certificate refused: self", false},
        {"trusted CA and the name in the certificate", SmtpSecurity::StartTls, false, true, true,
         "localhost", "s3cret", true, "", true},
        {"trusted CA but an address the certificate does not name", SmtpSecurity::StartTls, false,
         true, true, "127.0.0.1", "s3cret", false, "Cannot start TLS: certificate refused: IP",
         false},
        {"exchanger STARTTLS without checks", SmtpSecurity::Opportunistic, false, true, false,
         "127.0.0.1", "s3cret", true, "", true},
    };
    const int plainPort = peerPort("QM_AIO_PORT");
    const int tlsPort = peerPort("QM_AIO_TLS_PORT");
    const std::string cert = peerEnv("QM_AIO_CERT");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SendLogBuffer log;
        SmtpClient client(c.host, c.implicitPort ? tlsPort : plainPort);
        client.setHelloDomain("example.test");
        client.setCredentials(c.mode != SmtpSecurity::Opportunistic, "alice", c.password);
        client.setSecurity({c.mode, c.verify, c.trustTestCa ? cert : std::string()});
        client.setLogSink(4, &log);
        bool connected = client.connect();
        EXPECT_EQ(connected, c.wantOk) << client.lastError();
        if (connected) {
            EXPECT_EQ(client.usesTls(), c.wantTls);
        }
        bool ok = connected &&
                  client.sendMessage({"<ann@example.test>", {"bob@example.test"}, kHeader, kBody});
        EXPECT_EQ(ok, c.wantOk) << client.lastError();
        EXPECT_EQ(client.disconnect(), true) << client.lastError();
        if (!c.wantOk) {
            EXPECT_EQ(client.lastError().substr(0, c.wantError.size()), c.wantError);
        }
        for (const std::string& secret : {std::string(c.password), base64Encode(c.password)}) {
            EXPECT_EQ(log.slotText(4).find(secret), std::string::npos);
            EXPECT_EQ(client.lastError().find(secret), std::string::npos);
        }
    }
}

// XOAUTH2 against aiosmtpd's own AUTH machinery: the good token logs in and the message is
// stored as the account's; a refused one ends after the error report with the fixed text.
TEST(AioSmtpdTest, OAuthTokenLogin) {
    for (const std::string token : {"good-token", "expired-token"}) {
        SCOPED_TRACE(token);
        const bool good = token == "good-token";
        SendLogBuffer log;
        SmtpClient client("127.0.0.1", peerPort("QM_AIO_PORT"));
        client.setHelloDomain("example.test");
        client.setCredentials(true, "alice", token);
        client.setLogin(SmtpLogin::OAuthToken);
        client.setLogSink(4, &log);
        EXPECT_EQ(client.connect(), good) << client.lastError();
        EXPECT_TRUE(client.capabilities().authXoauth2);
        if (good) {
            EXPECT_TRUE(deliver(client)) << client.lastError();
        } else {
            EXPECT_EQ(client.lastError(), "Authentication Failed");
            EXPECT_EQ(client.failure(), SmtpFailure::AuthFailed);
            EXPECT_NE(log.slotText(4).find("535 5.7.8"), std::string::npos) << log.slotText(4);
        }
        EXPECT_EQ(log.slotText(4).find(token), std::string::npos);
    }
}

TEST(AioSmtpdTest, StoredMessageAndEnvelope) {
    std::string dir = peerEnv("QM_AIO_DIR");
    std::size_t before = listFiles(dir, ".eml").size();
    SmtpClient client("127.0.0.1", peerPort("QM_AIO_PORT"));
    client.setHelloDomain("example.test");
    client.setCredentials(true, "alice", "s3cret");
    ASSERT_TRUE(deliver(client, {"bob@example.test", "carol@example.test"})) << client.lastError();

    std::string n = std::to_string(before + 1);
    std::string eml, env;
    ASSERT_TRUE(readFile(dir + "/" + n + ".eml", eml));
    ASSERT_TRUE(readFile(dir + "/" + n + ".env", env));
    EXPECT_EQ(eml, storedForm());
    // The bare HELO was refused with 501, so the server knows the hello domain.
    EXPECT_EQ(env,
              "helo example.test\nauth True\nfrom ann@example.test\n"
              "rcpt bob@example.test\nrcpt carol@example.test\n");
}

TEST(AioSmtpdTest, RefusedRecipientEndsTheSend) {
    std::string dir = peerEnv("QM_AIO_DIR");
    std::size_t before = listFiles(dir, ".eml").size();
    SmtpClient client("127.0.0.1", peerPort("QM_AIO_PORT"));
    client.setHelloDomain("example.test");
    ASSERT_TRUE(client.connect()) << client.lastError();
    EXPECT_FALSE(client.sendMessage(
        {"<ann@example.test>", {"reject-1@example.test", "bob@example.test"}, kHeader, kBody}));
    EXPECT_EQ(client.lastError(), "550:SMTP server error");
    EXPECT_TRUE(client.connected());
    EXPECT_TRUE(client.disconnect());
    EXPECT_EQ(listFiles(dir, ".eml").size(), before);
}

}  // namespace
}  // namespace qm
