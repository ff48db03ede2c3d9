// The path services against a model: random calls of every file and directory service
// in a scratch folder, with names drawn to meet the edges, each result and the folder's
// whole contents compared with the model after every call. A few seconds by default;
// WORDGEN_PATH_MODEL_SECONDS runs it longer and WORDGEN_PATH_MODEL_SEED picks the seed.
#include "path_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "test_support.h"

namespace {

constexpr double default_seconds = 3;
constexpr uint64_t default_seed = 20261207;

double seconds_to_run() {
    const char* text = std::getenv("WORDGEN_PATH_MODEL_SECONDS");
    double seconds = text ? std::atof(text) : 0;
    return seconds > 0 ? seconds : default_seconds;
}

uint64_t seed_to_use() {
    const char* text = std::getenv("WORDGEN_PATH_MODEL_SEED");
    return text ? std::strtoull(text, nullptr, 10) : default_seed;
}

TEST(PathModel, RandomCallsAgreeWithTheModelAndTouchOnlyWhatTheyName) {
    TemporaryFolder scratch;
    const uint64_t seed = seed_to_use();
    std::mt19937_64 random(seed);
    path_model::Run run;
    run.root = scratch.path;
    run.choose = {[&](uint64_t bound) { return random() % bound; }, [] { return false; }};
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds_to_run());
    while (std::chrono::steady_clock::now() < deadline && path_model::step(run)) {
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("path model: seed %llu, %llu steps (%llu calls succeeded), %llu names drawn (%zu distinct), "
                "longest path made %zu bytes, %.1f s\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(run.steps),
                static_cast<unsigned long long>(run.successes), static_cast<unsigned long long>(run.names_drawn),
                run.distinct_names.size(), run.longest_path, took);
    EXPECT_EQ(run.failure, "") << "seed " << seed << ", step " << run.steps;
    // A run that stopped at once, or never met a name, tested nothing.
    EXPECT_GT(run.steps, 100u);
    path_model::empty_folder(run.root);
    temporary_pos = 0;
    dynamic_pos = 0;
}

}  // namespace
