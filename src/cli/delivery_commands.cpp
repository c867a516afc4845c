// quillmark-cli's smtp and dns commands: try a relay or an exchanger by hand, ask the resolver
// what it sees.
//
// Entry points: addDeliveryCommands() adds "smtp test", "dns mx" and "dns query".
//
// Failure: exit code 1 with the client's or the resolver's text on stderr ("MX lookup failed:
// ...", "DNS lookup failed: ..." when the DNS server could not answer); a name without records
// prints an empty line and succeeds.
//
// Limits: one connection or one lookup per command.
//
// Threads: the command line's one thread.
//
// Standard: SMTP and DNS through SmtpClient and DnsResolver.
#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/campaign_options.h"
#include "cli/commands.h"
#include "config/settings.h"
#include "delivery/campaign_run.h"
#include "delivery/dns_resolver.h"
#include "delivery/mx_route.h"
#include "delivery/smtp_check.h"
#include "delivery/smtp_client.h"
#include "groups/address.h"

namespace qm::cli {

namespace {

struct SmtpTestOptions {
    DeliveryOptions delivery;
    std::string mx;
    std::string hello;
};

int runSmtpTest(const SmtpTestOptions& o) {
    SettingsStore settings = SettingsStore::open();
    DeliverySettings d;
    std::string error;
    if (!resolveDelivery(o.delivery, d, error)) return fail(error);
    std::string server, helloDomain = o.hello;
    int port = static_cast<int>(d.port);
    SmtpSecurityOptions security;
    if (!o.mx.empty()) {
        DnsResolver resolver;
        MxHost mx = selectMxHost(resolver, o.mx);
        if (mx.status == DnsStatus::TemporaryFailure)
            return fail("MX lookup failed: " + std::string(mx.error));
        if (mx.nullMx) return fail(o.mx + ": " + std::string(kNullMxText));
        server = mx.host;
        std::cout << "exchanger: " << server << '\n';
        security = mxSecurity(settings.readFlag(keys::kMxStartTls));
        if (o.delivery.port == 0) port = 25;
        d.authenticate = false;
        if (helloDomain.empty()) helloDomain = std::string(domainOf(o.mx));
    } else {
        // A fresh settings file reads as MX mode with no server: nothing to test.
        if (d.server.empty())
            return fail(
                "No mail server is set: give --server HOST (and --port), or store one "
                "with Quillsetup or \"settings set SmtpServer Server HOST\".");
        // An empty server, or a token command that gave no token.
        if (CheckResult checked = checkDeliverySettings(d); !checked.ok)
            return fail(checked.message);
        server = d.server;
        security = relaySecurity(d);
    }
    SmtpCheck check{
        server,
        port,
        d.authenticate,
        d.userName,
        d.password,
        security,
        helloDomainFor(helloDomain, d.userName),
        d.login == RelayLogin::OAuthCommand ? SmtpLogin::OAuthToken : SmtpLogin::Password,
        d.tokenCommand};
    SmtpCheckResult result =
        checkSmtpConnection(check, [](const SmtpReply& reply) { std::cout << reply.text(); });
    if (result.tls) std::cout << "(TLS in use)\n";
    std::cout.flush();
    // The fixed failure text says "the" server: name the one that was tried.
    if (!result.ok)
        return fail(result.error + " (server " + server + ", port " + std::to_string(port) + ")");
    return kExitOk;
}

// The records on one line; a failure, or an answer without records, on stderr with exit code 1
// (an empty line and success read as "it worked" in a script).
int printAnswer(const DnsResolver& resolver, const DnsAnswer& answer, std::string_view name) {
    if (answer.status == DnsStatus::TemporaryFailure)
        return fail("DNS lookup failed: " + std::string(answer.error));
    const std::string line = resolver.joined(answer);
    if (line.empty()) return fail("no records for " + std::string(name));
    std::cout << line << '\n';
    return kExitOk;
}

// The exchangers as "PREFERENCE HOST" joined by the separator, lowest preference first; a domain
// without MX is its own exchanger; a null MX is a failure.
int printByPreference(DnsResolver& resolver, std::string_view domain) {
    MxRecords mx = resolver.lookupMxRecords(domain);
    if (mx.status == DnsStatus::TemporaryFailure)
        return fail("DNS lookup failed: " + std::string(mx.error));
    for (const auto& r : mx.records)
        if (r.exchange == ".") return fail(std::string(domain) + ": " + std::string(kNullMxText));
    if (mx.records.empty()) mx.records.push_back({0, std::string(domain)});
    std::string line;
    for (const auto& r : sortByPreference(std::move(mx.records))) {
        if (!line.empty()) line += resolver.separator();
        line += std::to_string(r.preference) + " " + r.exchange;
    }
    std::cout << line << '\n';
    return kExitOk;
}

}  // namespace

void addDeliveryCommands(CLI::App& app, int& exitCode) {
    auto* smtp = app.add_subcommand("smtp", "Talk to an SMTP relay or exchanger");
    smtp->require_subcommand(1);
    {
        auto o = std::make_shared<SmtpTestOptions>();
        auto* test = smtp->add_subcommand(
            "test",
            "Connect, greet (HELO/EHLO, STARTTLS, AUTH as set), QUIT, and print the replies. "
            "Uses the stored delivery settings unless --server or --mx is given.");
        addRelayOptions(test, o->delivery);
        test->add_option("--mx", o->mx, "Test the mail exchanger of this domain instead");
        test->add_option("--hello", o->hello, "Domain for the second HELO/EHLO try");
        test->callback([&exitCode, o] { exitCode = runSmtpTest(*o); });
    }

    auto* dns = app.add_subcommand("dns", "Ask the configured DNS server");
    dns->require_subcommand(1);
    {
        static std::string domain;
        static bool byPreference = false;
        auto* mx = dns->add_subcommand("mx", "Print the MX hosts of DOMAIN in answer order");
        mx->add_option("DOMAIN", domain, "Domain (empty text: the search domains)")->required();
        mx->add_flag("--by-preference", byPreference,
                     "Print the exchangers in the order delivery by preference tries them");
        mx->callback([&exitCode] {
            DnsResolver resolver;
            exitCode = byPreference ? printByPreference(resolver, domain)
                                    : printAnswer(resolver, resolver.lookupMx(domain), domain);
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
            // TXT records are printed as SPF, DMARC and DKIM read them (the records' strings
            // joined); the general query renders no TXT record, which left an empty line.
            std::string_view t = type;
            if (t.substr(0, 5) == "TYPE_") t.remove_prefix(5);
            if (t.substr(0, 2) == "T_") t.remove_prefix(2);
            const bool txt = (t == "TXT" || dnsTypeNumber(type) == 16) && dnsClassNumber(cls) == 1;
            exitCode = printAnswer(
                resolver, txt ? resolver.lookupTxt(name) : resolver.query(name, cls, type), name);
        });
    }
}

}  // namespace qm::cli
