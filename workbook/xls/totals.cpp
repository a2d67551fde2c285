// Computing the totals under a band from the tallies of its columns: a small stack machine over
// the formula's tokens that knows numbers, the four operators and six aggregate functions.
#include "workbook/xls/totals.h"

#include "workbook/biff.h"

#include <cmath>
#include <variant>

namespace lw::xls {

using namespace biff;

void ColumnTally::add(const Value& v) {
    switch (v.type) {
    case ValueType::Empty:
        return;
    case ValueType::Number:
        sum += v.number;
        ++numbers;
        min = std::min(min, v.number);
        max = std::max(max, v.number);
        break;
    case ValueType::Text:
        if (v.text.isEmpty())
            return;
        break;
    case ValueType::Boolean:
    case ValueType::Error:
        break;
    }
    ++nonEmpty;
}

namespace {

constexpr quint8 errDiv0 = 0x07;

struct Area {
    int firstColumn, lastColumn;
};
// A number, an error code, or an area of the band.
using Item = std::variant<double, quint8, Area>;

} // namespace

std::optional<Value>
computeTotal(const Formula& formula, int first, int last,
             const std::function<const ColumnTally*(int column)>& tally,
             const std::function<std::optional<std::pair<int, int>>(int name)>& nameColumns) {
    const QByteArray& t = formula.tokens();
    std::vector<Item> stack;
    const auto pop = [&]() -> std::optional<Item> {
        if (stack.empty())
            return std::nullopt;
        Item i = stack.back();
        stack.pop_back();
        return i;
    };
    // Aggregates args (already popped, in order) as function fn.
    const auto aggregate = [&](int fn, const std::vector<Item>& args) -> std::optional<Item> {
        double sum = 0, mn = std::numeric_limits<double>::infinity(), mx = -mn;
        qint64 numbers = 0, nonEmpty = 0;
        for (const Item& a : args) {
            if (const quint8* e = std::get_if<quint8>(&a)) {
                if (fn != 169)
                    return Item(*e);
                ++nonEmpty;
            } else if (const double* d = std::get_if<double>(&a)) {
                sum += *d;
                ++numbers;
                ++nonEmpty;
                mn = std::min(mn, *d);
                mx = std::max(mx, *d);
            } else {
                const Area& area = std::get<Area>(a);
                for (int c = area.firstColumn; c <= area.lastColumn; ++c) {
                    const ColumnTally* ct = tally(c);
                    if (!ct)
                        continue;
                    if (ct->unknown)
                        return std::nullopt;
                    sum += ct->sum;
                    numbers += ct->numbers;
                    nonEmpty += ct->nonEmpty;
                    mn = std::min(mn, ct->min);
                    mx = std::max(mx, ct->max);
                }
            }
        }
        switch (fn) {
        case 4:
            return Item(sum);
        case 0:
            return Item(double(numbers));
        case 169:
            return Item(double(nonEmpty));
        case 5:
            return numbers == 0 ? Item(errDiv0) : Item(sum / double(numbers));
        case 6:
            return Item(numbers == 0 ? 0.0 : mn);
        case 7:
            return Item(numbers == 0 ? 0.0 : mx);
        default:
            return std::nullopt;
        }
    };
    for (int pos = 0; pos < t.size();) {
        const int size = tokenSize(t, pos);
        if (size < 0)
            return std::nullopt;
        const quint8 id = quint8(t[pos]);
        const char* p = t.constData() + pos + 1;
        pos += size;
        if (id == 0x1E) {
            stack.emplace_back(double(biff::u16(p)));
        } else if (id == 0x1F) {
            stack.emplace_back(biff::f64(p));
        } else if (id >= 0x03 && id <= 0x06) {
            const auto b = pop(), a = pop();
            if (!a || !b || std::holds_alternative<Area>(*a) || std::holds_alternative<Area>(*b))
                return std::nullopt;
            if (const quint8* e = std::get_if<quint8>(&*a)) {
                stack.emplace_back(*e);
                continue;
            }
            if (const quint8* e = std::get_if<quint8>(&*b)) {
                stack.emplace_back(*e);
                continue;
            }
            const double x = std::get<double>(*a), y = std::get<double>(*b);
            if (id == 0x06 && y == 0)
                stack.emplace_back(errDiv0);
            else
                stack.emplace_back(id == 0x03 ? x + y : id == 0x04 ? x - y : id == 0x05 ? x * y : x / y);
        } else if (id == 0x12 || id == 0x13 || id == ptgParen) {
            if (stack.empty() || std::holds_alternative<Area>(stack.back()))
                return std::nullopt;
            if (id == 0x13)
                if (double* d = std::get_if<double>(&stack.back()))
                    *d = -*d;
        } else if (id == ptgAttr) {
            const quint8 kind = quint8(p[0]);
            if (kind & 0x10) { // SUM of one argument
                const auto a = pop();
                if (!a)
                    return std::nullopt;
                const auto r = aggregate(4, {*a});
                if (!r)
                    return std::nullopt;
                stack.push_back(*r);
            } else if (!(kind & 0x41) || (kind & 0x2E)) { // only spaces and the volatile mark pass
                return std::nullopt;
            }
        } else if (id >= 0x20 && baseToken(id) == ptgArea) {
            if (biff::u16(p) != first || biff::u16(p + 2) != last)
                return std::nullopt;
            stack.emplace_back(Area{biff::u16(p + 4) & 0xFF, biff::u16(p + 6) & 0xFF});
        } else if (id >= 0x20 && baseToken(id) == ptgName && nameColumns) {
            const std::optional<std::pair<int, int>> columns = nameColumns(int(biff::u32(p)) - 1);
            if (!columns)
                return std::nullopt;
            stack.emplace_back(Area{columns->first, columns->second});
        } else if (id >= 0x20 && baseToken(id) == ptgFuncVar) {
            const int argc = quint8(p[0]) & 0x7F;
            const int fn = biff::u16(p + 1) & 0x7FFF;
            if (int(stack.size()) < argc)
                return std::nullopt;
            std::vector<Item> args(stack.end() - argc, stack.end());
            stack.resize(stack.size() - std::size_t(argc));
            const auto r = aggregate(fn, args);
            if (!r)
                return std::nullopt;
            stack.push_back(*r);
        } else {
            return std::nullopt;
        }
    }
    if (stack.size() != 1 || std::holds_alternative<Area>(stack.back()))
        return std::nullopt;
    if (const quint8* e = std::get_if<quint8>(&stack.back()))
        return Value{ValueType::Error, double(*e), {}};
    const double d = std::get<double>(stack.back());
    if (!std::isfinite(d))
        return std::nullopt;
    return Value{ValueType::Number, d, {}};
}

} // namespace lw::xls
