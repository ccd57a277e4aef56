// Rigid registration of a scan to a map of Gaussians by the
// normal-distributions transform (NDT): the pose that minimises the
// scan's negative score under the map's Gaussians, found by Newton's method.
#pragma once

#include <cstdint>

#include "gaussian_gate.hpp"
#include "query_rows.hpp"

namespace tessary {

// A pose in the map's frame: p_map = R p + t, with R the rotation of a unit
// quaternion (w, x, y, z), so that it stays a rotation to rounding however
// many steps compose it.
struct Pose {
    double quaternion[4];
    double translation[3];

    // From a 4 x 4 column-major [R t; 0 0 0 1] whose R is a rotation to
    // rounding; the quaternion is the one nearest to R, normalised.
    static Pose fromMatrix(const double* matrix);
    // The pose after a motion (tx, ty, tz, rx, ry, rz): R' = dR R, t' = t +
    // (tx, ty, tz), dR the rotation about the map's axes by about (rx, ry, rz).
    Pose moved(const double* step) const;
    void rotation(double* R) const;       // 3 x 3, column-major
    void toMatrix(double* matrix) const;  // 4 x 4, column-major
};

// Whether a 4 x 4 column-major matrix is [R t; 0 0 0 1] with R a rotation:
// finite, R'R within 1e-6 of the identity entry by entry, det(R) > 0.
bool isRigid(const double* matrix);

struct RegistrationOptions {
    Pose initial;
    std::int32_t maxIterations;
    double translationTolerance;  // in the scan's units
    double rotationTolerance;     // radians
    double outlierRatio;          // strictly between 0 and 1
    double voxelSize;             // > 0
    double eigenvalueFloor;       // in [1e-6, 1]: see registerToMap
};

struct RegistrationResult {
    Pose pose;
    bool converged = false;
    std::int32_t iterations = 0;
    double score = 0.0;
    double hessian[36] = {};  // 6 x 6, column-major
};

// Registers the scan (rows; rows with a coordinate that is not finite take
// no part) to the map (means count x 3 in rows, covariances 9 x count,
// finite, count >= 1). Each covariance is the gate's, its eigenvalues
// below `eigenvalueFloor` of the largest raised to that floor: the gate's
// 1e-6 leaves the Gaussians of a sparse lidar's rings as thin as lines,
// whose minimum lies off the true pose (on the HDL-32 pair 0.1 to 0.2
// degrees, varying from start to start), where 0.01 lands within 0.08
// degrees from every start. `distances`, when not null, gets for each scan
// row the Mahalanobis distance of the row at the final pose to the nearest
// of its three nearest Gaussians under the gate's own kernel and
// covariances, as the gate would find it; NaN for rows left out.
//
// The score is the sum over points and candidates of d1 exp(-d2 m / 2),
// m the squared Mahalanobis distance and d1 < 0 < d2 the constants of
// the outlier model; the Hessian is the score's with respect to a motion
// (tx, ty, tz, rx, ry, rz) applied after the pose: a translation along the
// map's axes and a rotation about them through the pose's translation.
// Every sum is taken in a fixed order: the result is the same at any
// number of threads.
RegistrationResult registerToMap(const QueryRows& scan, const GaussianSet& map, const RegistrationOptions& options,
                                 double* distances);

// The score at `pose` (as registerToMap defines it, with the options'
// outlier model, voxel size and floor), its gradient (6) and Hessian (6 x 6,
// column-major).
double registrationScore(const QueryRows& scan, const GaussianSet& map, const RegistrationOptions& options,
                         const Pose& pose, double* gradient, double* hessian);

}  // namespace tessary
