// The record layouts.
#include "records.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "functions.h"
#include "key-table.h"
#include "printer.h"

void tally_tsv_escape(std::string_view text, std::string *out)
{
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char *e = c == '\t'   ? "\\t"
                        : c == '\n' ? "\\n"
                        : c == '\r' ? "\\r"
                        : c == '\\' ? "\\\\"
                                    : nullptr;
        if (e == nullptr)
            continue;
        out->append(text.substr(from, i - from));
        out->append(e, 2);
        from = i + 1;
    }
    out->append(text.substr(from));
}

size_t tally_format_double(double x, int digits, char *buf)
{
    if (std::isnan(x)) {
        std::memcpy(buf, "nan", 4);
        return 3;
    }
    if (std::isinf(x)) {
        std::strcpy(buf, x < 0 ? "-inf" : "inf");
        return x < 0 ? 4 : 3;
    }
    if (digits != 0)
        return static_cast<size_t>(std::snprintf(buf, 40, "%.*g", digits, x));
    const std::to_chars_result r = std::to_chars(buf, buf + 39, x);
    *r.ptr = '\0';
    return static_cast<size_t>(r.ptr - buf);
}

namespace {

void csv_quote(std::string_view text, std::string *out)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out->append(text);
        return;
    }
    out->push_back('"');
    for (const char c : text) {
        if (c == '"')
            out->push_back('"');
        out->push_back(c);
    }
    out->push_back('"');
}

void json_string(std::string_view text, std::string *out)
{
    out->push_back('"');
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(c);
        } else if (c == '\n') {
            out->append("\\n");
        } else if (c == '\r') {
            out->append("\\r");
        } else if (c == '\t') {
            out->append("\\t");
        } else if (u < 0x20 || u == 0x7f) {
            char e[8];
            std::snprintf(e, sizeof e, "\\u%04x", u);
            out->append(e);
        } else {
            out->push_back(c);
        }
    }
    out->push_back('"');
}

} // namespace

tally_records_t::tally_records_t(const tally_layout_t &layout,
                                 const tallyf_list_t *list,
                                 std::vector<std::string> key_names,
                                 const std::vector<std::string> *header)
    : layout_(layout), list_(list), key_names_(std::move(key_names)),
      header_(header), targets_(static_cast<size_t>(list->count)),
      long_targets_(static_cast<size_t>(list->count)),
      sep_(layout.format == tally_format_t::tsv ? '\t' : ',')
{
}

// A field of the format: text escaped or quoted as it needs; in JSON a
// string when quoted_text, else the text as it stands (a number).
void tally_records_t::field(std::string_view text, bool quoted_text,
                            std::string *out) const
{
    switch (layout_.format) {
    case tally_format_t::tsv:
        tally_tsv_escape(text, out);
        break;
    case tally_format_t::csv:
        csv_quote(text, out);
        break;
    default:
        if (quoted_text)
            json_string(text, out);
        else
            out->append(text);
        break;
    }
}

void tally_records_t::write_header()
{
    started_ = true;
    if (layout_.format == tally_format_t::json)
        return;
    std::string line;
    for (const std::string &n : names_) {
        if (&n != &names_.front())
            line.push_back(sep_);
        field(n, true, &line);
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), out_);
}

void tally_records_t::begin(FILE *out, std::string_view key, int nkeys)
{
    out_ = out;
    keys_.clear();
    row_.clear();
    const bool json = layout_.format == tally_format_t::json;
    if (!layout_.long_rows && naming_) {
        names_ = key_names_;
        first_key_.assign(key);
        first_nkeys_ = nkeys;
    } else if (layout_.long_rows && !started_) {
        names_ = key_names_;
        for (const char *n : {"target", "function", "statistic", "value"})
            names_.emplace_back(n);
        write_header();
    }
    if (json)
        keys_.push_back('{');
    note_prefix_.clear();
    size_t s = 0;
    tally_each_key_field(key, nkeys, [&](std::string_view k) {
        tally_tsv_escape(k, &note_prefix_);
        note_prefix_.push_back('\t');
        if (json) {
            if (layout_.long_rows || naming_) {
                json_string(key_names_[s], &keys_);
                keys_.push_back(':');
            } else {
                keys_.append(json_keys_[s]);
            }
            json_string(k, &keys_);
            keys_.push_back(',');
        } else {
            field(k, true, &keys_);
            keys_.push_back(sep_);
        }
        ++s;
    });
    if (!layout_.long_rows)
        row_ = keys_;
    column_ = s;
}

void tally_records_t::begin_names(FILE *out)
{
    out_ = out;
    names_only_ = true;
    keys_.clear();
    row_.clear();
    names_ = key_names_;
    column_ = key_names_.size();
    if (layout_.long_rows && !started_) {
        for (const char *n : {"target", "function", "statistic", "value"})
            names_.emplace_back(n);
        write_header();
    }
}

void tally_records_t::request(int i, const tally_printer_t &p)
{
    current_ = i;
    position_ = 0;
    const auto at = static_cast<size_t>(i);
    if (targets_[at].empty()) {
        // A column by the name it was chosen by, else the header line's
        // name for it, else its number ("col N" in the wide names too).
        bool named = false;
        const auto col_text = [&](uint32_t col, const char *chosen) {
            named = named || chosen != nullptr ||
                    (header_ != nullptr && col >= 1 && col <= header_->size());
            if (chosen != nullptr)
                return std::string(chosen);
            if (header_ != nullptr && col >= 1 && col <= header_->size())
                return (*header_)[col - 1];
            return std::to_string(col);
        };
        std::string t, l;
        if (p.pair) {
            t = col_text(p.num, nullptr) + p.pair_sep + col_text(p.num2, nullptr);
            l = (*p.pair_sep == ',' ? "cols " : "col ") + t;
        } else if (std::strcmp(p.label, "Row") == 0) {
            l = t = "row " + std::to_string(p.num);
        } else {
            t = col_text(p.num, p.col_name);
            l = "col " + t;
        }
        targets_[at] = named ? t : l;
        long_targets_[at] = l;
    }
    if (!layout_.long_rows)
        return;
    std::string word;
    if (layout_.words != nullptr && !layout_.words[at].empty()) {
        word = layout_.words[at];
    } else {
        const tallyf_t &tf = list_->functions[at];
        const tally_function_t *f = tally_function_by_stored(tf.code);
        word = f != nullptr ? f->word : "";
    }
    const bool json = layout_.format == tally_format_t::json;
    lead_ = keys_;
    if (json) {
        lead_.append("\"target\":");
        json_string(long_targets_[at], &lead_);
        lead_.append(",\"function\":");
        json_string(word, &lead_);
        lead_.append(",\"statistic\":");
    } else {
        field(long_targets_[at], true, &lead_);
        lead_.push_back(sep_);
        field(word, true, &lead_);
        lead_.push_back(sep_);
    }
}

void tally_records_t::name(std::string_view label, const char *suffix)
{
    std::string n = targets_[static_cast<size_t>(current_)];
    n.push_back(' ');
    n.append(label);
    if (suffix != nullptr) {
        n.push_back(' ');
        n.append(suffix);
    }
    names_.push_back(std::move(n));
}

void tally_records_t::value(const char *label, const char *suffix,
                            bool quoted, std::string_view text)
{
    const bool json = layout_.format == tally_format_t::json;
    if (layout_.long_rows) {
        row_.append(lead_);
        if (json) {
            scratch_.assign(label);
            if (suffix != nullptr) {
                scratch_.push_back(' ');
                scratch_.append(suffix);
            }
            json_string(scratch_, &row_);
            row_.append(",\"value\":");
            field(text, quoted, &row_);
            row_.append("}\n");
        } else {
            if (suffix == nullptr) {
                field(label, true, &row_);
            } else {
                scratch_.assign(label);
                scratch_.push_back(' ');
                scratch_.append(suffix);
                field(scratch_, true, &row_);
            }
            row_.push_back(sep_);
            field(text, true, &row_);
            row_.push_back('\n');
        }
        flush_if_big();
        return;
    }
    if (naming_)
        name(label, suffix);
    if (names_only_)
        return;
    if (json) {
        // Names are known once the first record is whole: its values wait.
        if (naming_) {
            pending_.emplace_back(text, quoted);
            return;
        }
        row_.append(json_keys_[column_++]);
        field(text, quoted, &row_);
        row_.push_back(',');
    } else {
        field(text, true, &row_);
        row_.push_back(sep_);
    }
}

// Names unique: a repeated one gets " (2)", " (3)" and so on; then each
// one's JSON key.
void tally_records_t::unique_names()
{
    for (size_t i = 1; i < names_.size(); ++i) {
        const std::string base = names_[i];
        for (int n = 2;; ++n) {
            bool seen = false;
            for (size_t j = 0; j < i && !seen; ++j)
                seen = names_[j] == names_[i];
            if (!seen)
                break;
            names_[i] = base + " (" + std::to_string(n) + ")";
        }
    }
    for (const std::string &n : names_) {
        std::string k;
        json_string(n, &k);
        k.push_back(':');
        json_keys_.push_back(std::move(k));
    }
}

void tally_records_t::flush_if_big()
{
    if (row_.size() >= (size_t{1} << 16)) {
        std::fwrite(row_.data(), 1, row_.size(), out_);
        row_.clear();
    }
}

void tally_records_t::end()
{
    if (names_only_) {
        if (!layout_.long_rows && naming_) {
            naming_ = false;
            unique_names();
            write_header();
        }
        row_.clear();
        return;
    }
    if (!layout_.long_rows) {
        const bool json = layout_.format == tally_format_t::json;
        if (naming_) {
            naming_ = false;
            unique_names();
            if (json) {
                // The first record's keys were written before their names
                // were sure: again, with the names as they stand now.
                row_.clear();
                row_.push_back('{');
                size_t s = 0;
                tally_each_key_field(first_key_, first_nkeys_, [&](std::string_view k) {
                    row_.append(json_keys_[s++]);
                    json_string(k, &row_);
                    row_.push_back(',');
                });
                for (const auto &[text, quoted] : pending_) {
                    row_.append(json_keys_[s++]);
                    field(text, quoted, &row_);
                    row_.push_back(',');
                }
                pending_.clear();
            }
            write_header();
        }
        if (json) {
            if (row_.back() == ',')
                row_.back() = '}';
            else
                row_.push_back('}');
        } else if (!row_.empty() && row_.back() == sep_) {
            row_.pop_back();
        }
        row_.push_back('\n');
    }
    std::fwrite(row_.data(), 1, row_.size(), out_);
    row_.clear();
}

void tally_records_t::number(const char *label, double x)
{
    char buf[48];
    const size_t n = tally_format_double(x, layout_.digits, buf);
    // JSON has no NaN nor infinities: they are strings.
    value(label, nullptr, !std::isfinite(x), std::string_view(buf, n));
}

void tally_records_t::count(const char *label, uint64_t n)
{
    char buf[24];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, n);
    value(label, nullptr, false,
          std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

void tally_records_t::text(const char *label, const char *text)
{
    value(label, nullptr, true, text);
}

void tally_records_t::interval(const char *label, double low, double high)
{
    char buf[48];
    size_t n = tally_format_double(low, layout_.digits, buf);
    value(label, "low", !std::isfinite(low), std::string_view(buf, n));
    n = tally_format_double(high, layout_.digits, buf);
    value(label, "high", !std::isfinite(high), std::string_view(buf, n));
}

void tally_records_t::listed(double x, double z, double cdf)
{
    ++position_;
    // "value(K)", "z-score(K)", "cdf(K)": the position written once.
    char pos[24];
    const std::to_chars_result r = std::to_chars(pos, pos + sizeof pos,
                                                 position_);
    const size_t n = static_cast<size_t>(r.ptr - pos);
    const double v[3] = {x, z, cdf};
    const std::string_view what[3] = {"value(", "z-score(", "cdf("};
    char label[48];
    for (int k = 0; k < 3; ++k) {
        std::memcpy(label, what[k].data(), what[k].size());
        std::memcpy(label + what[k].size(), pos, n);
        label[what[k].size() + n] = ')';
        label[what[k].size() + n + 1] = '\0';
        number(label, v[k]);
    }
}

void tally_records_t::table_row(const char *const *names,
                                const double *values, const bool *is_count,
                                int k)
{
    ++position_;
    char pos[24];
    const std::to_chars_result r = std::to_chars(pos, pos + sizeof pos,
                                                 position_);
    const std::string at(pos, static_cast<size_t>(r.ptr - pos));
    for (int i = 0; i < k; ++i) {
        const std::string label = std::string(names[i]) + "(" + at + ")";
        if (is_count[i])
            count(label.c_str(), static_cast<uint64_t>(values[i]));
        else
            number(label.c_str(), values[i]);
    }
}

void tally_records_t::note(const char *text)
{
    // Headed as a grouped run's notices are: the key fields, then what it
    // is about.
    notes_.append(note_prefix_);
    notes_.append("numtally: ");
    notes_.append(long_targets_[static_cast<size_t>(current_)]);
    notes_.append(": ");
    notes_.append(text);
    notes_.push_back('\n');
}
