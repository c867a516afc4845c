#include <benchmark/benchmark.h>

#include "groups/address.h"

static void BM_IsEmailAddress(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(qm::isEmailAddress("john.smith@mail.example.com"));
}
BENCHMARK(BM_IsEmailAddress);

static void BM_ParseAddressList10k(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "user" + std::to_string(i) + "@example.com; ";
    for (auto _ : state) benchmark::DoNotOptimize(qm::parseAddressList(text));
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ParseAddressList10k);
