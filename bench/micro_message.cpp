// Message building speed: base64 beside OpenSSL's EVP_EncodeBlock on the same 1 MiB, and whole
// builds of one recipient's copy (HTML with one inline picture and a 2 MB attachment), with the
// run's attachment cache as the send engine uses it and without it for contrast.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "common/base64.h"
#include "common/smtp_transparency.h"
#include "message/attachment_cache.h"
#include "message/fill_message.h"
#include "message/html_tools.h"

namespace {

std::string randomBytes(std::size_t n) {
    std::mt19937 rng(1);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

const std::string& mebibyte() {
    static const std::string data = randomBytes(1 << 20);
    return data;
}

void BM_Base64Encode_Quillmark(benchmark::State& state) {
    const std::string& in = mebibyte();
    for (auto _ : state) benchmark::DoNotOptimize(qm::base64Encode(in));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Base64Encode_Quillmark);

void BM_Base64Encode_OpenSSL_EVP_EncodeBlock(benchmark::State& state) {
    const std::string& in = mebibyte();
    for (auto _ : state) {
        // The same work as ours: a fresh output string per call.
        std::string out((in.size() + 2) / 3 * 4 + 1, '\0');
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(in.data()),
                        static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Base64Encode_OpenSSL_EVP_EncodeBlock);

void BM_Base64MimeLines(benchmark::State& state) {
    const std::string& in = mebibyte();
    for (auto _ : state) {
        std::string out;
        qm::appendBase64Lines(in, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Base64MimeLines);

struct Campaign {
    std::string folder = "/tmp/qm-bench-message-" + std::to_string(::getpid());
    qm::CampaignMessage message;
    Campaign() {
        std::string mkdir = "mkdir -p " + folder;
        if (std::system(mkdir.c_str()) != 0) std::abort();
        std::ofstream(folder + "/logo.png", std::ios::binary) << randomBytes(20000);
        std::ofstream(folder + "/catalogue.pdf", std::ios::binary) << randomBytes(2000000);
        message.senderName = "Ann Smith";
        message.senderAddress = "ann@example.com";
        message.subject = "Spring catalogue";
        std::string html = "<HTML><BODY><IMG src=\"" + folder + "/logo.png\">";
        for (int i = 0; i < 200; ++i)
            html += "<P>Dear [**USER**], our prices = low this spring.</P>\r\n";
        message.htmlText = html + "</BODY></HTML>";
        message.attachments.addFiles({folder + "/logo.png", folder + "/catalogue.pdf"});
        if (!qm::checkMessage(message, false, {}).ok) std::abort();
        qm::rewriteInlineImages(message.body, message.attachments);
    }
    ~Campaign() {
        std::string rm = "rm -rf " + folder;
        if (std::system(rm.c_str()) != 0) std::abort();
    }
};

void buildHtml2MB(benchmark::State& state, bool useCache) {
    static Campaign campaign;
    qm::AttachmentCache cache;
    std::size_t bytes = 0;
    for (auto _ : state) {
        qm::MimeMessage msg;
        if (useCache) msg.sources.cache = &cache;
        qm::fillMimeMessage(msg, campaign.message, "bob@example.org", campaign.message.body);
        {
            std::lock_guard<std::mutex> guard(qm::mimeBuildLock());
            msg.build();
        }
        bytes = msg.body.size();
        benchmark::DoNotOptimize(msg.body.data());
    }
    state.counters["builds/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["body_bytes"] = static_cast<double>(bytes);
}

void BM_BuildHtmlInline2MB_RunCache(benchmark::State& state) {
    buildHtml2MB(state, true);
}
BENCHMARK(BM_BuildHtmlInline2MB_RunCache)->Unit(benchmark::kMillisecond);

void BM_BuildHtmlInline2MB_NoCache(benchmark::State& state) {
    buildHtml2MB(state, false);
}
BENCHMARK(BM_BuildHtmlInline2MB_NoCache)->Unit(benchmark::kMillisecond);

void BM_SmtpTransparency2MB(benchmark::State& state) {
    static const std::string body = [] {
        std::string lines;
        qm::appendBase64Lines(randomBytes(2000000), lines);
        return lines;
    }();
    for (auto _ : state) benchmark::DoNotOptimize(qm::smtpTransparency(body));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_SmtpTransparency2MB)->Unit(benchmark::kMillisecond);

}  // namespace
