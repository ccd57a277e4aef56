#include "gaussian_kernel.hpp"

#include <cmath>
#include <limits>


namespace tessary {

Matrix3 covarianceFrom(const double* c) {
    // The upper triangle is a mirror of the lower one; its own values are ignored.
    Matrix3 C;
    C << static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2]),
         static_cast<float>(c[1]), static_cast<float>(c[4]), static_cast<float>(c[5]),
         static_cast<float>(c[2]), static_cast<float>(c[5]), static_cast<float>(c[8]);
    return C;
}

Vector3 vectorFrom(const double* xyz) {
    return Vector3(static_cast<float>(xyz[0]), static_cast<float>(xyz[1]), static_cast<float>(xyz[2]));
}

bool regularizedEigen(const Matrix3& C, Vector3& lambda, Matrix3& V) {
    // The general iterative method (tridiagonal reduction and QR steps), not
    // the closed form for 3x3 matrices: the two round differently.
    const Eigen::SelfAdjointEigenSolver<Matrix3> solver(C);
    if (solver.info() != Eigen::Success) return false;
    lambda = solver.eigenvalues();
    V = solver.eigenvectors();

    // One float division: multiplying by 1e-6 would round differently.
    const float t = lambda(2) / eigenvalueFloorRatio;
    if (t > lambda(0)) lambda(0) = t;
    if (t > lambda(1)) lambda(1) = t;
    return true;
}

Matrix3 regularizedInverse(const Matrix3& C) {
    Vector3 lambda;
    Matrix3 V;
    if (!regularizedEigen(C, lambda, V)) return Matrix3::Constant(std::numeric_limits<float>::quiet_NaN());
    return inverseFromEigen(lambda, V);
}

Matrix3 inverseFromEigen(const Vector3& lambda, const Matrix3& V) {
    Matrix3 W;
    for (int k = 0; k < 3; ++k)
        for (int r = 0; r < 3; ++r) W(r, k) = V(r, k) * lambda(k);

    // The inverse, not the transpose: V is orthonormal only up to rounding.
    const Matrix3 U = V.inverse();
    Matrix3 R;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) R(r, c) = W(r, 0) * U(0, c) + (W(r, 1) * U(1, c) + W(r, 2) * U(2, c));
    return R.inverse();
}

float quadraticForm(const Vector3& p, const Vector3& m, const Matrix3& S) {
    const float d0 = p(0) - m(0), d1 = p(1) - m(1), d2 = p(2) - m(2);
    float t[3];
    for (int j = 0; j < 3; ++j) t[j] = d0 * S(0, j) + (d1 * S(1, j) + d2 * S(2, j));
    return t[0] * d0 + (t[1] * d1 + t[2] * d2);
}

float mahalanobisDistance(const Vector3& p, const Vector3& m, const Matrix3& S) {
    // The double square root rounded to float is the correctly rounded float one.
    return static_cast<float>(std::sqrt(static_cast<double>(quadraticForm(p, m, S))));
}

float gaussianDistance(const double* point, const double* mean, const double* covariance) {
    return mahalanobisDistance(vectorFrom(point), vectorFrom(mean), regularizedInverse(covarianceFrom(covariance)));
}

}  // namespace tessary
