// Mahalanobis distance of a point to a 3-D Gaussian under a regularised
// covariance, in single precision. Pure functions: no state, no allocation,
// safe on every worker thread.
#pragma once

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>

namespace tessary {

using Matrix3 = Eigen::Matrix3f;
using Vector3 = Eigen::Vector3f;

// Eigenvalues below this fraction of the largest are raised to it.
constexpr float eigenvalueFloorRatio = 1000000.0f;

// The covariance as float32 from 9 doubles, column-major. Only the lower
// triangle (positions 0, 1, 2, 4, 5, 8) is ever read.
Matrix3 covarianceFrom(const double* covariance);
Vector3 vectorFrom(const double* xyz);

// The eigenvalues of C in ascending order, the smaller ones raised to the
// floor, and its eigenvectors as the columns of V; false where the
// decomposition does not converge.
bool regularizedEigen(const Matrix3& C, Vector3& lambda, Matrix3& V);

// The inverse of V diag(lambda) V^-1, as regularizedInverse forms it.
Matrix3 inverseFromEigen(const Vector3& lambda, const Matrix3& V);

// Inverse of C after raising its small eigenvalues to the floor. All NaN
// when the eigen-decomposition does not converge, so every distance under it
// is NaN and fails every gate.
Matrix3 regularizedInverse(const Matrix3& C);

// The squared distance before its square root: (p - m)' covInv (p - m).
float quadraticForm(const Vector3& point, const Vector3& mean, const Matrix3& covInv);

// The square root of the quadratic form, taken in double and rounded to float.
float mahalanobisDistance(const Vector3& point, const Vector3& mean, const Matrix3& covInv);

// The whole kernel for one point and one Gaussian given as doubles.
float gaussianDistance(const double* point, const double* mean, const double* covariance);

}  // namespace tessary
