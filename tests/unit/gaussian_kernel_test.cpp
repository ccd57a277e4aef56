#include "gaussian_kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using tessary::gaussianDistance;
using tessary::Matrix3;
using tessary::regularizedInverse;

namespace {

const double origin[3] = {0, 0, 0};

// 9 doubles, column-major, of diag(a, b, c).
struct Diagonal {
    double v[9];
    Diagonal(double a, double b, double c) : v{a, 0, 0, 0, b, 0, 0, 0, c} {}
};

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(GaussianKernel, UnitDistanceOnAnAxisOfAnElongatedGaussian) {
    const Diagonal C(4, 1, 1);
    const double p[3] = {2, 0, 0};
    const Matrix3 inv = regularizedInverse(tessary::covarianceFrom(C.v));
    Matrix3 expected = Matrix3::Zero();
    expected.diagonal() << 0.25f, 1.0f, 1.0f;
    EXPECT_EQ(inv, expected);
    EXPECT_EQ(gaussianDistance(p, origin, C.v), 1.0f);
}

TEST(GaussianKernel, DistanceIsTheRoundedSquareRootOfTheQuadraticForm) {
    const Diagonal C(2, 8, 0.5);
    const double p[3] = {1, 2, 0.5};
    EXPECT_TRUE(sameBits(gaussianDistance(p, origin, C.v), 1.2247449f));
    EXPECT_TRUE(sameBits(gaussianDistance(p, origin, C.v), static_cast<float>(std::sqrt(1.5))));
}

TEST(GaussianKernel, FlatGaussianIsFlooredAtOneMillionthOfTheLargestEigenvalue) {
    const double p[3] = {0, 0, 0.0005};
    for (double low : {0.0, -1.0}) {
        const Diagonal C(1, 1, low);
        Matrix3 expected = Matrix3::Zero();
        expected.diagonal() << 1.0f, 1.0f, 1000000.0f;
        EXPECT_EQ(regularizedInverse(tessary::covarianceFrom(C.v)), expected) << "lowest eigenvalue " << low;
        EXPECT_EQ(gaussianDistance(p, origin, C.v), 0.5f) << "lowest eigenvalue " << low;
    }
}

TEST(GaussianKernel, UpperTriangleIsIgnored) {
    const Diagonal C(4, 1, 1);
    double noisy[9];
    std::memcpy(noisy, C.v, sizeof noisy);
    noisy[3] = 7.5;
    noisy[6] = -3;
    noisy[7] = std::nan("");
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-3, 3);
    for (int k = 0; k < 100; ++k) {
        const double p[3] = {u(rng), u(rng), u(rng)};
        EXPECT_TRUE(sameBits(gaussianDistance(p, origin, noisy), gaussianDistance(p, origin, C.v)));
    }
}

TEST(GaussianKernel, DegenerateCovariancesGiveNaN) {
    const double p[3] = {1, 2, 3};
    const Diagonal zero(0, 0, 0);
    EXPECT_TRUE(std::isnan(gaussianDistance(p, origin, zero.v)));
    EXPECT_TRUE(std::isnan(gaussianDistance(origin, origin, zero.v)));
    const Diagonal withNaN(1, std::nan(""), 1);
    EXPECT_TRUE(std::isnan(gaussianDistance(p, origin, withNaN.v)));
    const Diagonal withInf(1, std::numeric_limits<double>::infinity(), 1);
    EXPECT_FALSE(gaussianDistance(p, origin, withInf.v) < 1e30f);
}
