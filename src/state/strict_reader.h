// The strict record reader: one JSON document read through nlohmann/json's SAX interface
// against a list of field specifications, all or nothing. Object form (a known key twice is
// invalid, unknown keys are skipped with everything under them) or array form (the fields in
// order, optional ones at the end may be left out); integer kinds and ranges enforced; null
// only in optional fields; a byte-order mark or a NUL byte is never a record. The four record
// schemas use it (records.cpp); nothing else should need it.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

namespace wd::strict_json {

enum class Kind { U32, U64, I64, Text };

struct FieldSpec {
    std::string_view name;
    Kind kind;
    bool required;
};

// A field as read: absent (monostate), null, or its value.
struct Null {};
using FieldValue = std::variant<std::monostate, Null, std::uint64_t, std::int64_t, std::string>;

// Reads one record through the SAX interface so that the record rules are enforced while
// parsing: only the root's own members are looked at, everything nested under an unknown key
// is skipped, and a wrong kind anywhere ends the parse.
template <std::size_t N>
class RecordReader : public nlohmann::json_sax<nlohmann::json> {
  public:
    explicit RecordReader(const std::array<FieldSpec, N>& specs) : specs_(specs) {}

    std::array<FieldValue, N> values;

    bool null() override {
        return scalar([](const FieldSpec& s) -> FieldValue {
            return s.required ? FieldValue{} : FieldValue{Null{}};
        });
    }
    bool boolean(bool) override {
        return scalar([](const FieldSpec&) { return FieldValue{}; });
    }
    bool number_integer(number_integer_t v) override {
        return scalar([v](const FieldSpec& s) -> FieldValue {
            switch (s.kind) {
                case Kind::I64:
                    return std::int64_t{v};
                // "-0" arrives here as 0: zero, not a negative value.
                case Kind::U32:
                case Kind::U64:
                    return v == 0 ? FieldValue{std::uint64_t{0}} : FieldValue{};
                case Kind::Text:
                    return FieldValue{};
            }
            return FieldValue{};
        });
    }
    bool number_unsigned(number_unsigned_t v) override {
        return scalar([v](const FieldSpec& s) -> FieldValue {
            switch (s.kind) {
                case Kind::U32:
                    return v <= std::numeric_limits<std::uint32_t>::max()
                               ? FieldValue{std::uint64_t{v}}
                               : FieldValue{};
                case Kind::U64:
                    return std::uint64_t{v};
                case Kind::I64:
                    return v <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                               ? FieldValue{static_cast<std::int64_t>(v)}
                               : FieldValue{};
                case Kind::Text:
                    return FieldValue{};
            }
            return FieldValue{};
        });
    }
    bool number_float(number_float_t, const string_t&) override {
        return scalar([](const FieldSpec&) { return FieldValue{}; });
    }
    bool string(string_t& v) override {
        return scalar([&v](const FieldSpec& s) -> FieldValue {
            return s.kind == Kind::Text ? FieldValue{std::move(v)} : FieldValue{};
        });
    }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& k) override {
        if (depth_ != 1) return true;  // keys of skipped nested objects
        current_ = SKIP;
        for (std::size_t i = 0; i < N; ++i) {
            if (specs_[i].name == k) {
                if (seen_[i]) return false;  // a known field twice
                seen_[i] = true;
                current_ = i;
            }
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    // After a successful parse: every required field is there.
    bool complete() const {
        for (std::size_t i = 0; i < N; ++i) {
            if (specs_[i].required && std::holds_alternative<std::monostate>(values[i]))
                return false;
        }
        return true;
    }

  private:
    static constexpr std::size_t SKIP = static_cast<std::size_t>(-1);
    static constexpr std::size_t NONE = static_cast<std::size_t>(-2);

    // The field that the value now arriving belongs to, SKIP for an unknown key's value,
    // or none when the value is not acceptable here.
    std::optional<std::size_t> target() {
        if (depth_ != 1) return std::nullopt;
        if (!in_array_) {
            const std::size_t t = current_;
            current_ = NONE;
            if (t == NONE) return std::nullopt;
            return t;
        }
        if (next_element_ >= N) return std::nullopt;  // more elements than fields
        seen_[next_element_] = true;
        return next_element_++;
    }

    template <typename Convert>
    bool scalar(Convert convert) {
        if (depth_ > 1) return true;  // inside a skipped value
        const auto t = target();
        if (!t) return false;  // a scalar root, or an element beyond the fields
        if (*t == SKIP) return true;
        FieldValue v = convert(specs_[*t]);
        if (std::holds_alternative<std::monostate>(v)) return false;
        values[*t] = std::move(v);
        return true;
    }

    bool open(bool array) {
        if (depth_ == 0) {
            in_array_ = array;
            depth_ = 1;
            return true;
        }
        if (depth_ == 1) {
            // A container is acceptable only as the value of an unknown key.
            if (in_array_ || current_ != SKIP) return false;
            current_ = NONE;
        }
        ++depth_;
        return true;
    }

    bool close() {
        --depth_;
        return true;
    }

    const std::array<FieldSpec, N>& specs_;
    std::array<bool, N> seen_{};
    std::size_t depth_ = 0;
    bool in_array_ = false;
    std::size_t current_ = NONE;
    std::size_t next_element_ = 0;
};

template <std::size_t N>
std::optional<std::array<FieldValue, N>> read_fields(std::string_view text,
                                                     const std::array<FieldSpec, N>& specs) {
    // The library skips a byte-order mark and stops at a NUL byte; neither is a record.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") return std::nullopt;
    RecordReader<N> reader(specs);
    try {
        if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reader,
                                       nlohmann::json::input_format_t::json, true, false)) {
            return std::nullopt;
        }
    } catch (...) {
        return std::nullopt;
    }
    if (!reader.complete()) return std::nullopt;
    return std::move(reader.values);
}

template <typename T>
std::optional<T> optional_of(const FieldValue& v) {
    if (const auto* x = std::get_if<std::uint64_t>(&v)) return static_cast<T>(*x);
    if (const auto* x = std::get_if<std::int64_t>(&v)) return static_cast<T>(*x);
    return std::nullopt;
}

}  // namespace wd::strict_json
