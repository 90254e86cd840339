#include "harness/harness_vars.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "bench/auto_thread_count.h"

namespace tavro {

template <class T>
std::optional<T> parse_decimal(std::string_view text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template std::optional<std::uint32_t> parse_decimal<std::uint32_t>(std::string_view);
template std::optional<std::uint64_t> parse_decimal<std::uint64_t>(std::string_view);

range_spec split_range_spec(std::string_view text) {
    range_spec parts;
    std::string_view range = text;
    if (const auto colon = text.find(':'); colon != std::string_view::npos) {
        range = text.substr(0, colon);
        if (colon + 1 < text.size()) {
            parts.step = text.substr(colon + 1);
        }
    }
    if (range.empty()) {
        return parts;
    }
    const auto dash = range.find('-');
    if (dash == std::string_view::npos) {
        parts.lo = range;
        parts.hi = range;
        return parts;
    }
    if (dash > 0) {
        parts.lo = range.substr(0, dash);
    }
    if (dash + 1 < range.size()) {
        parts.hi = range.substr(dash + 1);
    }
    return parts;
}

std::vector<std::string_view> split_list(std::string_view text) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            items.push_back(text.substr(start));
            return items;
        }
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

namespace {

bool is_default_text(std::string_view text) {
    return text.empty() || text == "auto";
}

/// lo, hi and step of a numeric range text, absent parts taking the defaults;
/// nothing when a part does not parse, hi is below lo or the step is 0.
template <class T>
struct numeric_range {
    T lo;
    T hi;
    T step;
};

template <class T>
std::optional<numeric_range<T>> parse_range(std::string_view text, T lower, T upper) {
    const range_spec parts = split_range_spec(text);
    const auto lo = parts.lo ? parse_decimal<T>(*parts.lo) : std::optional<T>(lower);
    const auto hi = parts.hi ? parse_decimal<T>(*parts.hi) : std::optional<T>(upper);
    const auto step = parts.step ? parse_decimal<T>(*parts.step) : std::optional<T>(1);
    if (!lo || !hi || !step || *hi < *lo || *step == 0) {
        return std::nullopt;
    }
    return numeric_range<T>{*lo, *hi, *step};
}

template <class T>
std::optional<std::vector<T>> parse_number_list(std::string_view text) {
    std::vector<T> values;
    for (std::string_view item : split_list(text)) {
        const auto value = parse_decimal<T>(item);
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    return values;
}

std::optional<std::size_t> isa_position(std::string_view name) {
    const auto it = std::find(std::begin(harness_isa_names), std::end(harness_isa_names), name);
    if (it == std::end(harness_isa_names)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - std::begin(harness_isa_names));
}

template <class T>
harness_plan plan_numeric(const std::optional<std::vector<T>>& values, std::uint32_t extra_s,
                          bool estimate_from_value, const tavro_harness_context& ctx,
                          void (*apply)(bench_config&, T)) {
    if (!values) {
        return std::nullopt;
    }
    std::vector<harness_run> runs;
    runs.reserve(values->size());
    for (const T value : *values) {
        harness_run run;
        run.label = std::to_string(value);
        const std::uint32_t base =
            estimate_from_value ? static_cast<std::uint32_t>(value) : ctx.config.duration_s;
        run.estimate_s = base + extra_s;
        run.action = [ctx, value, apply] {
            bench_config config = ctx.config;
            apply(config, value);
            return ctx.run(std::move(config), ctx.topology);
        };
        runs.push_back(std::move(run));
    }
    return runs;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> sweep_values(std::string_view text, std::uint32_t lower,
                                                       std::uint32_t upper) {
    std::vector<std::uint32_t> values;
    if (is_default_text(text)) {
        for (std::uint32_t v = lower; v < upper; ++v) {
            values.push_back(v);
        }
        return values;
    }
    if (const auto range = parse_range<std::uint32_t>(text, lower, upper)) {
        for (std::uint32_t v = range->lo;; v += range->step) {
            values.push_back(v);
            if (range->hi - v < range->step) {
                break;  // the next step would pass hi (or wrap around)
            }
        }
        return values;
    }
    return parse_number_list<std::uint32_t>(text);
}

std::optional<std::uint64_t> sweep_value_count(std::string_view text, std::uint32_t lower,
                                               std::uint32_t upper) {
    if (is_default_text(text)) {
        return upper > lower ? upper - lower : 0;
    }
    if (const auto range = parse_range<std::uint32_t>(text, lower, upper)) {
        return std::uint64_t{range->hi - range->lo} / range->step + 1;
    }
    std::uint64_t count = 0;
    for (std::string_view item : split_list(text)) {
        if (!parse_decimal<std::uint32_t>(item)) {
            return std::nullopt;
        }
        ++count;
    }
    return count;
}

std::optional<std::vector<std::uint64_t>> sweep_sizes(std::string_view text) {
    if (is_default_text(text)) {
        return std::vector<std::uint64_t>(allowed_grid_sizes.begin(), allowed_grid_sizes.end());
    }
    if (const auto range = parse_range<std::uint64_t>(text, 64, 384);
        range && is_allowed_grid_size(range->lo) && is_allowed_grid_size(range->hi)) {
        std::vector<std::uint64_t> sizes;
        for (const std::uint64_t n : allowed_grid_sizes) {
            if (n >= range->lo && n <= range->hi && (n - range->lo) % range->step == 0) {
                sizes.push_back(n);
            }
        }
        return sizes;
    }
    auto sizes = parse_number_list<std::uint64_t>(text);
    if (sizes && !std::all_of(sizes->begin(), sizes->end(), is_allowed_grid_size)) {
        return std::nullopt;
    }
    return sizes;
}

std::optional<std::vector<std::string_view>> sweep_isa_names(std::string_view text) {
    const std::size_t last = std::size(harness_isa_names) - 1;
    if (is_default_text(text)) {
        return std::vector<std::string_view>(std::begin(harness_isa_names),
                                             std::end(harness_isa_names));
    }
    const range_spec parts = split_range_spec(text);
    const auto lo = parts.lo ? isa_position(*parts.lo) : std::optional<std::size_t>(0);
    const auto hi = parts.hi ? isa_position(*parts.hi) : std::optional<std::size_t>(last);
    if (lo && hi && *lo <= *hi && !parts.step) {
        return std::vector<std::string_view>(harness_isa_names + *lo, harness_isa_names + *hi + 1);
    }
    std::vector<std::string_view> names;
    for (std::string_view item : split_list(text)) {
        const auto position = isa_position(item);
        if (!position) {
            return std::nullopt;
        }
        names.push_back(harness_isa_names[*position]);
    }
    return names;
}

harness_plan h_none_var::gen(std::string_view, const tavro_harness_context& ctx) {
    std::vector<harness_run> runs(1);
    runs[0].label = "none";
    runs[0].estimate_s = ctx.config.duration_s;
    runs[0].action = [ctx] { return ctx.run(ctx.config, ctx.topology); };
    return runs;
}

namespace {

template <class T>
std::optional<std::uint64_t> size_of(const std::optional<std::vector<T>>& values) {
    if (!values) {
        return std::nullopt;
    }
    return values->size();
}

std::uint32_t threads_upper_default(const tavro_harness_context& ctx) {
    return auto_thread_count(ensure_topology(ctx.topology), ctx.config.grid_size,
                             ctx.config.large_pages);
}

}  // namespace

std::optional<std::uint64_t> h_none_var::count(std::string_view, const tavro_harness_context&) {
    return 1;
}

harness_plan h_dur_var::gen(std::string_view text, const tavro_harness_context& ctx) {
    return plan_numeric<std::uint32_t>(sweep_values(text, 5, 60), 1, true, ctx,
                                       [](bench_config& c, std::uint32_t v) { c.duration_s = v; });
}

harness_plan h_threads_var::gen(std::string_view text, const tavro_harness_context& ctx) {
    return plan_numeric<std::uint32_t>(sweep_values(text, 1, threads_upper_default(ctx)), 1, false,
                                       ctx,
                                       [](bench_config& c, std::uint32_t v) { c.threads = v; });
}

std::optional<std::uint64_t> h_dur_var::count(std::string_view text, const tavro_harness_context&) {
    return sweep_value_count(text, 5, 60);
}

std::optional<std::uint64_t> h_threads_var::count(std::string_view text,
                                                  const tavro_harness_context& ctx) {
    return sweep_value_count(text, 1, threads_upper_default(ctx));
}

// A size or isa sweep holds at most a value per item of the option text,
// which is already in memory: listing them is as cheap as counting them.
std::optional<std::uint64_t> h_size_var::count(std::string_view text,
                                               const tavro_harness_context&) {
    return size_of(sweep_sizes(text));
}

std::optional<std::uint64_t> h_isa_var::count(std::string_view text, const tavro_harness_context&) {
    return size_of(sweep_isa_names(text));
}

harness_plan h_size_var::gen(std::string_view text, const tavro_harness_context& ctx) {
    return plan_numeric<std::uint64_t>(sweep_sizes(text), 1, false, ctx,
                                       [](bench_config& c, std::uint64_t v) { c.grid_size = v; });
}

harness_plan h_isa_var::gen(std::string_view text, const tavro_harness_context& ctx) {
    const auto names = sweep_isa_names(text);
    if (!names) {
        return std::nullopt;
    }
    std::vector<harness_run> runs;
    for (std::string_view name : *names) {
        harness_run run;
        run.label = std::string(name);
        run.estimate_s = ctx.config.duration_s;
        run.action = [ctx, isa = std::string(name)] {
            bench_config config = ctx.config;
            config.isa_name = isa;
            return ctx.run(std::move(config), ctx.topology);
        };
        runs.push_back(std::move(run));
    }
    return runs;
}

}  // namespace tavro
