// The result set of a radius search.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tessary {

// What the traversal fills: every point offered at or within the squared
// radius. It offers the points below worst(), so worst() is the next double
// above the radius: a point at the radius itself is offered too.
class WithinSet {
public:
    WithinSet(double squaredRadius, double* distances, double* numbers, std::int64_t capacity)
        : limit_(squaredRadius),
          bound_(std::nextafter(squaredRadius, std::numeric_limits<double>::infinity())),
          distances_(distances),
          numbers_(numbers),
          capacity_(capacity) {}

    double worst() const { return bound_; }
    std::int64_t size() const { return count_; }

    void add(double distance, double number) {
        if (!(distance <= limit_)) return;
        if (count_ < capacity_) {
            distances_[count_] = distance;
            numbers_[count_] = number;
        }
        ++count_;
    }

private:
    double limit_, bound_;
    double* distances_;
    double* numbers_;
    std::int64_t capacity_;
    std::int64_t count_ = 0;
};

}  // namespace tessary
