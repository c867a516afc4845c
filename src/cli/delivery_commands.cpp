// smtp and dns commands: try a relay or an exchanger by hand, ask the resolver what it sees.
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/settings.h"
#include "cli/commands.h"
#include "delivery/dns_resolver.h"
#include "delivery/smtp_client.h"

namespace qm::cli {

namespace {

struct SmtpTestOptions {
    std::string server;
    int port = 0;
    std::string security;
    std::string verifyCert;
    std::string user;
    std::string passwordEnv;
    std::string mx;
    std::string hello;
};

int runSmtpTest(const SmtpTestOptions& o) {
    SettingsStore settings = SettingsStore::open();
    std::string server, user, password, helloDomain = o.hello;
    int port = 25;
    bool authenticate = false;
    SmtpSecurityOptions security;

    if (!o.mx.empty()) {
        DnsResolver resolver;
        server = selectMxHost(resolver, o.mx);
        std::cout << "exchanger: " << server << '\n';
        security = mxSecurityFromSettings(settings);
        if (helloDomain.empty()) helloDomain = o.mx.substr(o.mx.rfind('@') + 1);
    } else if (!o.server.empty()) {
        server = o.server;
        security.mode = SmtpSecurity::None;
        if (!o.security.empty() && !parseSmtpSecurity(o.security, security.mode))
            return fail("--security takes none, starttls or tls");
        if (!o.verifyCert.empty() && o.verifyCert != "y" && o.verifyCert != "n")
            return fail("--verify-cert takes y or n");
        security.verifyCert = o.verifyCert != "n";
        if (!o.user.empty()) {
            authenticate = true;
            user = o.user;
            if (!o.passwordEnv.empty()) {
                const char* value = std::getenv(o.passwordEnv.c_str());
                if (!value) return fail("environment variable " + o.passwordEnv + " is not set");
                password = value;
            }
        }
    } else {
        server = settings.read(keys::kSmtpServer);
        if (server.empty()) return fail("Please enter a mail server to send mails.");
        port = std::atoi(settings.read(keys::kSmtpPort).c_str());
        authenticate = settings.readFlag(keys::kSmtpAuth);
        user = settings.read(keys::kSmtpUser);
        password = settings.read(keys::kSmtpPassword);
        security = relaySecurityFromSettings(settings);
    }
    if (o.port > 0) port = o.port;
    if (helloDomain.empty()) {
        std::size_t at = user.rfind('@');
        helloDomain = at == std::string::npos ? "localhost" : user.substr(at + 1);
    }

    SmtpClient client(server, port);
    client.setCredentials(authenticate, user, password);
    client.setSecurity(security);
    client.setHelloDomain(helloDomain);
    client.setReplyObserver([](const SmtpReply& reply) { std::cout << reply.text(); });
    bool ok = client.connect();
    if (ok && client.usesTls()) std::cout << "(TLS in use)\n";
    ok = ok && client.disconnect();
    std::cout.flush();
    if (!ok) return fail(client.lastError());
    return kExitOk;
}

}  // namespace

void addDeliveryCommands(CLI::App& app, int& exitCode) {
    auto* smtp = app.add_subcommand("smtp", "Talk to an SMTP relay or exchanger");
    smtp->require_subcommand(1);
    {
        static SmtpTestOptions o;
        auto* test = smtp->add_subcommand(
            "test",
            "Connect, greet (HELO/EHLO, STARTTLS, AUTH as set), QUIT, and print the replies. "
            "Uses the stored delivery settings unless --server or --mx is given.");
        test->add_option("--server", o.server, "Relay host name or address");
        test->add_option("--port", o.port, "TCP port (default 25, or the stored port)");
        test->add_option("--security", o.security, "none, starttls or tls (with --server)");
        test->add_option("--verify-cert", o.verifyCert, "y or n (with --server; default y)");
        test->add_option("--user", o.user, "AUTH LOGIN user name (with --server)");
        test->add_option("--password-env", o.passwordEnv,
                         "Name of the environment variable that holds the password");
        test->add_option("--mx", o.mx, "Test the mail exchanger of this domain instead");
        test->add_option("--hello", o.hello, "Domain for the second HELO/EHLO try");
        test->callback([&exitCode] { exitCode = runSmtpTest(o); });
    }

    auto* dns = app.add_subcommand("dns", "Ask the configured DNS server");
    dns->require_subcommand(1);
    {
        static std::string domain;
        auto* mx = dns->add_subcommand("mx", "Print the MX hosts of DOMAIN in answer order");
        mx->add_option("DOMAIN", domain, "Domain (empty text: the search domains)")->required();
        mx->callback([&exitCode] {
            DnsResolver resolver;
            std::cout << resolver.lookupMx(domain) << '\n';
            exitCode = kExitOk;
        });
    }
    {
        static std::string name, cls, type;
        auto* query = dns->add_subcommand("query", "Print the records of NAME, e.g. 'x.com IN MX'");
        query->add_option("NAME", name, "Names (list separated by ',', ';' or blanks)")->required();
        query->add_option("CLASS", cls, "IN, C_IN, CHAOS ...")->required();
        query->add_option("TYPE", type, "A, T_MX, TYPE_NS ...")->required();
        query->callback([&exitCode] {
            DnsResolver resolver;
            std::cout << resolver.query(name, cls, type) << '\n';
            exitCode = kExitOk;
        });
    }
}

}  // namespace qm::cli
