// What DKIM signing adds to one recipient's message: a personalised 10 KB HTML message built
// unsigned, then built and signed with Ed25519-SHA256 and with RSA-SHA256 (2048 bits), in one
// run. The difference between the rows is the signing cost per message on one core.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "message/campaign_message.h"
#include "message/dkim_signer.h"
#include "message/fill_message.h"
#include "message/mime_message.h"

namespace {

qm::CampaignMessage tenKbHtml() {
    qm::CampaignMessage m;
    m.senderName = "Bench";
    m.senderAddress = "bench@example.test";
    m.subject = "Offer";
    m.format = qm::MessageFormat::Html;
    std::string body = "<html><body><p>Dear reader,</p>\r\n";
    for (int i = 0; i < 120; ++i)
        body += "<p>Line " + std::to_string(i) +
                " of the offer: lorem ipsum dolor sit amet, consectetur.</p>\r\n";
    m.body = body + "</body></html>";
    return m;
}

std::shared_ptr<const qm::DkimSigner> signer(qm::DkimAlgorithm algorithm) {
    qm::DkimKeyPair pair;
    std::string error;
    if (!qm::generateDkimKey(algorithm, qm::kMinRsaBits, pair, error)) return nullptr;
    return qm::DkimSigner::fromPem({"example.test", "s", "", algorithm}, pair.privatePem, error);
}

void buildOne(benchmark::State& state, const qm::DkimSigner* dkim) {
    const qm::CampaignMessage m = tenKbHtml();
    std::size_t bytes = 0;
    for (auto _ : state) {
        qm::MimeMessage msg;
        qm::fillMimeMessage(msg, m, "bob@example.test", m.body);
        msg.build();
        if (dkim) qm::signMessage(*dkim, msg);
        bytes += msg.headerBlock.size() + msg.body.size();
        benchmark::DoNotOptimize(msg.headerBlock.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_Unsigned(benchmark::State& state) {
    buildOne(state, nullptr);
}
void BM_DkimEd25519(benchmark::State& state) {
    static auto s = signer(qm::DkimAlgorithm::Ed25519);
    if (!s) return state.SkipWithError("no key");
    buildOne(state, s.get());
}
void BM_DkimRsa2048(benchmark::State& state) {
    static auto s = signer(qm::DkimAlgorithm::Rsa);
    if (!s) return state.SkipWithError("no key");
    buildOne(state, s.get());
}

BENCHMARK(BM_Unsigned);
BENCHMARK(BM_DkimEd25519);
BENCHMARK(BM_DkimRsa2048);

}  // namespace
