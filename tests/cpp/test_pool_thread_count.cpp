// The thread-count rule of the worker pool: parsing of the environment
// variables, the order in which they and the machine decide, the cap, and how
// the machine's CPU counts combine with a control-group quota.
#include <doctest/doctest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pool/available_parallelism.hpp"
#include "pool/parse_unsigned.hpp"
#include "pool/thread_count.hpp"

using caldrith::choose_thread_count;
using caldrith::combine_parallelism;
using caldrith::parse_unsigned;

namespace {

const std::optional<std::string_view> UNSET;

}  // namespace

TEST_CASE("counts parse as an optional plus and ASCII digits only") {
    const struct { std::string_view text; std::optional<std::uint64_t> value; } cases[] = {
        {"4", 4}, {"+4", 4}, {"0004", 4}, {"0", 0}, {"18446744073709551615", 18446744073709551615ULL},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(parse_unsigned(c.text) == c.value);
    }
    const std::string_view unparseable[] = {
        "18446744073709551616", " 4", "4 ", "4\n", "-1", "", "+", "-", "++4", "4a", "1,000",
        "\xd9\xa4",  // ARABIC-INDIC DIGIT FOUR: a digit, but not ASCII
        "\xff" "4",   // not UTF-8
        std::string_view("4\0", 2),
    };
    for (const std::string_view text : unparseable) {
        CAPTURE(text);
        CHECK(parse_unsigned(text) == std::nullopt);
    }
}

TEST_CASE("the thread count comes from RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the machine") {
    const struct {
        std::optional<std::string_view> num_threads, rs_num_cpus;
        std::optional<std::size_t> machine;
        std::size_t expected;
        bool asks_machine;
    } cases[] = {
        {"4", UNSET, 6, 4, false},
        {"+4", "9", 6, 4, false},
        {"0004", "9", 6, 4, false},
        {"0", "9", 6, 6, true},    // 0 means the machine, RAYON_RS_NUM_CPUS is not consulted
        {"0", UNSET, std::nullopt, 1, true},
        {" 4", "9", 6, 9, false},  // unparseable: the next source decides
        {"4 ", UNSET, 6, 6, true},
        {"-1", "2", 6, 2, false},
        {"", "2", 6, 2, false},
        {"+", "2", 6, 2, false},
        {"\xff", "2", 6, 2, false},
        {"18446744073709551616", "2", 6, 2, false},
        {UNSET, "3", 6, 3, false},
        {UNSET, "+03", 6, 3, false},
        {UNSET, "0", 6, 6, true},
        {UNSET, "-3", 6, 6, true},
        {UNSET, UNSET, 5, 5, true},
        {UNSET, UNSET, std::nullopt, 1, true},
        {"65536", UNSET, 6, 65535, false},
        {"18446744073709551615", UNSET, 6, 65535, false},
        {UNSET, "100000", 6, 65535, false},
        {"0", UNSET, 70000, 65535, true},
    };
    for (const auto& c : cases) {
        CAPTURE(c.num_threads.value_or("<unset>"));
        CAPTURE(c.rs_num_cpus.value_or("<unset>"));
        int machine_reads = 0;
        const auto machine = [&] {
            ++machine_reads;
            return c.machine;
        };
        CHECK(choose_thread_count(c.num_threads, c.rs_num_cpus, machine) == c.expected);
        CHECK(machine_reads == (c.asks_machine ? 1 : 0));
    }
}

TEST_CASE("available parallelism: affinity mask, else online processors, limited by the quota") {
    const struct { std::optional<std::size_t> affinity, online, quota, expected; } cases[] = {
        {8, 16, std::nullopt, 8},
        {8, 16, 3, 3},
        {2, 16, 5, 2},
        {std::nullopt, 16, std::nullopt, 16},  // the mask could not be read
        {0, 16, 4, 4},                         // an empty mask
        {std::nullopt, 0, std::nullopt, std::nullopt},
        {std::nullopt, std::nullopt, 4, std::nullopt},
        {1, std::nullopt, 1, 1},
    };
    for (const auto& c : cases) {
        CAPTURE(c.affinity.value_or(999));
        CAPTURE(c.online.value_or(999));
        CAPTURE(c.quota.value_or(999));
        CHECK(combine_parallelism(c.affinity, c.online, c.quota) == c.expected);
    }
}
