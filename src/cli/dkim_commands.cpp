// quillmark-cli's sender-authentication commands: make a DKIM key and the record to publish, see
// whether the published record matches the key, and check a sender domain's SPF, DMARC and DKIM
// records; and the DKIM options of send and test-campaign.
//
// Entry points: addDkimCommands() adds "dkim keygen", "dkim check" and "check-domain";
// addDkimOptions()/resolveDkim() (cli/dkim_options.h).
//
// Failure: exit code 1 with the reason on stderr: a key file that exists already (keygen never
// overwrites a key), a key that cannot be used, a record that is missing or does not match, any
// check-domain line that says FAIL. Warnings do not fail.
// Limits: one TXT lookup per check.
// Threads: the command line's one thread.
// Standard: RFC 6376, RFC 8463, RFC 7208, RFC 7489 through the core.
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/dkim_options.h"
#include "common/atomic_file.h"
#include "common/file_util.h"
#include "config/settings.h"
#include "delivery/dns_resolver.h"
#include "delivery/domain_check.h"

namespace qm::cli {

namespace {

struct KeygenOptions {
    std::string domain, selector, algorithm = "rsa", out;
    int bits = kMinRsaBits;
};

int runKeygen(const KeygenOptions& o) {
    DkimAlgorithm algorithm;
    parseDkimAlgorithm(o.algorithm, algorithm);
    if (!isDkimName(o.domain)) return fail("Not a domain name: " + o.domain);
    if (!isDkimName(o.selector)) return fail("Not a selector: " + o.selector);
    DkimKeyPair pair;
    std::string error;
    if (!generateDkimKey(algorithm, o.bits, pair, error)) return fail("DKIM key: " + error);
    std::string path = o.out.empty() ? o.selector + "." + o.domain + ".pem" : o.out;
    // A new file only: replacing a key whose record is published would break every signature.
    if (fileExists(path))
        return fail(path + " exists already; choose another --out (keygen never replaces a key).");
    if (!writeFileAtomic(path, pair.privatePem, &error, {.mode = 0600, .noReplace = true}))
        return fail(error);
    std::string name = dkimRecordName(o.domain, o.selector);
    std::cout << "Private key written to " << path << " (mode 0600).\n"
              << "Publish this TXT record:\n"
              << name << ". IN TXT ( "
              << quotedTxtStrings(dkimTxtRecord(algorithm, pair.publicBase64)) << " )\n"
              << "Then sign with: --dkim-domain " << o.domain << " --dkim-selector " << o.selector
              << " --dkim-key " << path << " --dkim-algorithm " << o.algorithm << '\n';
    return kExitOk;
}

struct CheckOptions {
    std::string domain, selector, key, algorithm;
};

int runDkimCheck(const CheckOptions& o) {
    DkimSettings stored = loadDkimSettings(SettingsStore::open());
    DkimConfig c;
    c.domain = o.domain;
    c.selector = o.selector;
    c.keyFile = o.key.empty() ? stored.keyFile : o.key;
    if (c.keyFile.empty()) return fail("No key file: give --key or store one in the settings.");
    std::string error;
    // Without --algorithm the key says which algorithm it is for.
    if (!o.algorithm.empty()) parseDkimAlgorithm(o.algorithm, c.algorithm);
    std::shared_ptr<const DkimSigner> signer = DkimSigner::load(c, error, o.algorithm.empty());
    if (!signer) return fail(error);
    DnsResolver resolver;
    std::string name = dkimRecordName(o.domain, o.selector);
    DomainCheckLine line = dkimVerdict(name, resolver.lookupTxt(name), signer->publicKeyBase64());
    std::cout << formatCheckLine(line) << '\n';
    return line.verdict == CheckVerdict::Fail ? kExitFailure : kExitOk;
}

}  // namespace

void addDkimOptions(CLI::App* command, DkimOptions& o) {
    command->add_option("--dkim-domain", o.domain, "Sign with DKIM for this domain (d=)");
    command->add_option("--dkim-selector", o.selector, "DKIM selector (s=)");
    command->add_option("--dkim-key", o.key, "DKIM private key file (PEM, mode 0600)");
    command->add_option("--dkim-algorithm", o.algorithm, "DKIM algorithm")
        ->check(CLI::IsMember({"rsa", "ed25519"}));
    command->add_flag("--no-dkim", o.off, "Do not sign, whatever the settings say");
}

DkimSettings resolveDkim(const DkimOptions& o) {
    DkimSettings s = loadDkimSettings(SettingsStore::open());
    if (!o.domain.empty()) s.domain = o.domain;
    if (!o.selector.empty()) s.selector = o.selector;
    if (!o.key.empty()) s.keyFile = o.key;
    if (!o.algorithm.empty()) parseDkimAlgorithm(o.algorithm, s.algorithm);
    if (o.off) s.domain.clear();
    return s;
}

void addDkimCommands(CLI::App& app, int& exitCode) {
    auto* dkim = app.add_subcommand("dkim", "DKIM keys and their DNS records");
    dkim->require_subcommand(1);
    {
        auto o = std::make_shared<KeygenOptions>();
        auto* keygen = dkim->add_subcommand(
            "keygen", "Make a private key (mode 0600) and print the TXT record to publish");
        keygen->add_option("--domain", o->domain, "Signing domain")->required();
        keygen->add_option("--selector", o->selector, "Selector")->required();
        keygen->add_option("--algorithm", o->algorithm, "Key algorithm")
            ->check(CLI::IsMember({"rsa", "ed25519"}));
        keygen->add_option("--bits", o->bits, "RSA key size")->check(CLI::Range(2048, 8192));
        keygen->add_option("--out", o->out,
                           "Key file (default SELECTOR.DOMAIN.pem; never replaced)");
        keygen->callback([&exitCode, o] { exitCode = runKeygen(*o); });
    }
    {
        auto o = std::make_shared<CheckOptions>();
        auto* check = dkim->add_subcommand(
            "check", "Look up SELECTOR._domainkey.DOMAIN and say whether it matches the key");
        check->add_option("--domain", o->domain, "Signing domain")->required();
        check->add_option("--selector", o->selector, "Selector")->required();
        check->add_option("--key", o->key, "Private key file (default: the stored one)");
        check->add_option("--algorithm", o->algorithm, "Key algorithm (default: as the key says)")
            ->check(CLI::IsMember({"rsa", "ed25519"}));
        check->callback([&exitCode, o] { exitCode = runDkimCheck(*o); });
    }
    {
        static std::string domain, selector;
        auto* check = app.add_subcommand(
            "check-domain", "Check the SPF, DMARC and (with --selector) DKIM records of DOMAIN");
        check->add_option("DOMAIN", domain, "Sender domain")->required();
        check->add_option("--selector", selector, "DKIM selector to look up");
        check->callback([&exitCode] {
            DnsResolver resolver;
            auto lines = checkDomain(resolver, domain, selector);
            for (const auto& l : lines) std::cout << formatCheckLine(l) << '\n';
            exitCode = anyFailed(lines) ? kExitFailure : kExitOk;
        });
    }
}

}  // namespace qm::cli
