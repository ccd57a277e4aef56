// The nearest points a search has met so far, kept as nanoflann's
// KNNResultSet keeps them: ascending squared distance, a newcomer behind every
// entry of equal distance, and the worst distance the largest finite double
// until the set is full.
#pragma once

#include <cstdint>
#include <limits>

namespace tessary {

// `Fixed`: the capacity when known at compile time (the common small K, so
// that the insertion loop unrolls); 0 when it is given at run time.
template <int Fixed>
class NearestSet {
public:
    // Writes into `distances` and `numbers`, `capacity` entries each.
    NearestSet(double* distances, double* numbers, std::int32_t capacity)
        : distances_(distances), numbers_(numbers), capacity_(Fixed > 0 ? Fixed : capacity) {
        distances_[capacity_ - 1] = std::numeric_limits<double>::max();
    }

    double worst() const { return distances_[capacity_ - 1]; }
    std::int32_t size() const { return count_; }

    // Only for `distance < worst()`: anything else would not enter.
    void add(double distance, double number) {
        std::int32_t i = count_ < capacity_ ? count_ : capacity_ - 1;
        for (; i > 0 && distances_[i - 1] > distance; --i) {
            distances_[i] = distances_[i - 1];
            numbers_[i] = numbers_[i - 1];
        }
        distances_[i] = distance;
        numbers_[i] = number;
        if (count_ < capacity_) ++count_;
    }

    // The entries are where they belong from the start.
    void finish() const {}

private:
    double* distances_;
    double* numbers_;
    std::int32_t capacity_;
    std::int32_t count_ = 0;
};

}  // namespace tessary
