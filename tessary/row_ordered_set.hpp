// The nearest points a search has met so far, in ascending squared distance
// and, among equal distances, ascending point number: at the last place the
// smallest numbers are kept, as a stable sort of all the distances would
// keep them. The worst distance is the largest finite double until the set
// is full; then the search is offered points at the worst distance too,
// which enter when their number is smaller.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

namespace tessary {

// `Fixed`: the capacity when known at compile time; 0 when given at run time.
template <int Fixed>
class RowOrderedSet {
public:
    RowOrderedSet(double* distances, double* numbers, std::int32_t capacity)
        : distances_(distances), numbers_(numbers), capacity_(Fixed > 0 ? Fixed : capacity) {}

    // The bound below which a point may enter: just above the last entry's
    // distance once the set is full.
    double worst() const { return worst_; }
    std::int32_t size() const { return count_; }

    // Only for `distance < worst()`.
    void add(double distance, double number) {
        std::int32_t i = count_;
        if (count_ == capacity_) {
            const double last = distances_[capacity_ - 1];
            if (distance > last || (distance == last && number > numbers_[capacity_ - 1])) return;
            i = capacity_ - 1;
        }
        for (; i > 0 && (distances_[i - 1] > distance || (distances_[i - 1] == distance && numbers_[i - 1] > number)); --i) {
            distances_[i] = distances_[i - 1];
            numbers_[i] = numbers_[i - 1];
        }
        distances_[i] = distance;
        numbers_[i] = number;
        if (count_ < capacity_) ++count_;
        if (count_ == capacity_) worst_ = above(distances_[capacity_ - 1]);
    }

    void finish() const {}

private:
    // The next double up from a squared distance (never negative nor NaN
    // here), without the library call.
    static double above(double d) {
        if (!(d < std::numeric_limits<double>::infinity())) return d;
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        ++bits;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    double* distances_;
    double* numbers_;
    std::int32_t capacity_;
    std::int32_t count_ = 0;
    double worst_ = std::numeric_limits<double>::max();
};

}  // namespace tessary
