#include "scan_registration.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "nearest_set.hpp"
#include "openmp.hpp"
#include "point_index.hpp"
#include "portable_math.hpp"
#include "squared_distance.hpp"

namespace tessary {
namespace {

// Each point scores against the Gaussian of the nearest mean. Measured on
// real pairs and scans moved back to their own maps, from 0.5 m and 5
// degrees up to 1.5 m and 8 degrees away, three or five nearest means
// land on the same poses as one, to within 0.01 degrees, and need fewer
// steps, but each step costs as many searches and exponentials more: one
// is the fastest by 1.5 to 2 times. The distances reported use the gate's
// three candidates.
constexpr std::int32_t reportedCandidates = 3;

// Points are scored in blocks of this many, each block summed in point
// order and the blocks in block order: the sums do not depend on which
// thread took which block, and the partial sums cost 49 doubles a block.
constexpr std::int32_t blockPoints = 256;

// Newton's step is cut to at most one voxel and 0.1 rad (5.7 degrees): its
// quadratic model holds only while the points keep their Gaussians, and a
// step much longer than a voxel trades them for others.
constexpr double maxRotationStep = 0.1;

// Armijo's condition with the usual constant, and at most this many
// halvings of the step: a step 1/256 of Newton's that still does not
// lower the score means the pose is at the minimum to rounding.
constexpr double sufficientDecrease = 1e-4;
constexpr int maxHalvings = 8;

constexpr int hessianEntries = 21;  // the upper triangle of 6 x 6, row by row

// The score of a set of points and, when asked for, its gradient and
// Hessian with respect to the motion (tx, ty, tz, rx, ry, rz), and the
// Hessian's part that is never indefinite (see newtonStep).
struct Sums {
    double score = 0.0;
    double gradient[6] = {};
    double hessian[hessianEntries] = {};
    double definite[hessianEntries] = {};

    void add(const Sums& other, bool derivatives) {
        score += other.score;
        if (!derivatives) return;
        for (int a = 0; a < 6; ++a) gradient[a] += other.gradient[a];
        for (int e = 0; e < hessianEntries; ++e) hessian[e] += other.hessian[e];
        for (int e = 0; e < hessianEntries; ++e) definite[e] += other.definite[e];
    }
};

// The constants of the score's outlier model (Magnusson 2009, eq. 6.8): a
// Gaussian mixed with a uniform density of weight `outlierRatio` over a
// voxel, fitted by a Gaussian d1 exp(-d2 m / 2) + d3.
struct ScoreModel {
    double d1, d2;

    ScoreModel(double outlierRatio, double voxelSize) {
        const double c1 = 10.0 * (1.0 - outlierRatio);
        const double c2 = outlierRatio / (voxelSize * voxelSize * voxelSize);
        const double d3 = -portableLog(c2);
        d1 = -portableLog(c1 + c2) - d3;
        d2 = -2.0 * portableLog((-portableLog(c1 * portableExp(-0.5) + c2) - d3) / d1);
    }
};

// One Gaussian as the registration reads it: the mean, and the gate's
// regularised eigenvectors scaled by the inverse square roots of their
// eigenvalues, a_k = v_k / sqrt(lambda_k), so that a point's squared
// Mahalanobis distance is the sum of the squares (a_k . x)^2: never
// negative, however ill-conditioned the covariance (the inverse itself,
// rounded, can be indefinite). `scored` is false for a covariance whose
// decomposition failed or whose eigenvalues are all 0: that Gaussian
// takes no part, as it passes no gate. The gate's own float mean and
// inverse give the distances reported.
struct MapGaussian {
    double mean[3];
    double axes[3][3];
    bool scored;
    Vector3 floatMean;
    Matrix3 floatInverse;
};

class RegistrationMap {
public:
    // `eigenvalueFloor`: the fraction of the largest eigenvalue below which
    // the registration raises the others, on top of the gate's 1e-6; as
    // the gate does, by one float division, by its reciprocal.
    RegistrationMap(const GaussianSet& map, double eigenvalueFloor)
        : index_(columnsOf(map).data(), map.count), gaussians_(map.count) {
        const float floorDivisor = static_cast<float>(1.0 / eigenvalueFloor);
        const std::size_t g = static_cast<std::size_t>(map.count);
        MapGaussian* gaussians = gaussians_.data();
#pragma omp parallel for schedule(static)
        for (std::int32_t k = 0; k < map.count; ++k) {
            MapGaussian& out = gaussians[k];
            for (int d = 0; d < 3; ++d) out.mean[d] = map.means[static_cast<std::size_t>(k) + d * g];
            const Matrix3 C = covarianceFrom(map.covariances + 9 * static_cast<std::size_t>(k));
            out.floatMean = vectorFrom(out.mean);
            Vector3 lambda = Vector3::Ones();
            Matrix3 V = Matrix3::Identity();
            const bool decomposed = regularizedEigen(C, lambda, V);
            out.floatInverse = decomposed ? inverseFromEigen(lambda, V)
                                          : Matrix3::Constant(std::numeric_limits<float>::quiet_NaN());
            out.scored = decomposed && lambda(0) > 0.0f;
            const float floor = lambda(2) / floorDivisor;
            for (int a = 0; a < 2; ++a)
                if (floor > lambda(a)) lambda(a) = floor;
            for (int a = 0; a < 3; ++a) {
                const double scale = 1.0 / std::sqrt(static_cast<double>(lambda(a)));
                for (int d = 0; d < 3; ++d) out.axes[a][d] = out.scored ? V(d, a) * scale : 0.0;
            }
        }
    }

    const PointIndex& index() const { return index_; }
    const MapGaussian& gaussian(double number) const { return gaussians_[static_cast<std::size_t>(number) - 1]; }

private:
    // The means as the index takes them: 3 x count.
    static std::vector<double> columnsOf(const GaussianSet& map) {
        const std::size_t g = static_cast<std::size_t>(map.count);
        std::vector<double> columns(3 * g);
        for (std::size_t k = 0; k < g; ++k)
            for (std::size_t d = 0; d < 3; ++d) columns[3 * k + d] = map.means[k + d * g];
        return columns;
    }

    PointIndex index_;
    std::vector<MapGaussian> gaussians_;
};

bool finiteRow(const double* p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

// The scan under one pose: scores every point against its candidates.
class ScanScorer {
public:
    ScanScorer(const QueryRows& scan, const RegistrationMap& map, const ScoreModel& model)
        : scan_(scan), map_(map), model_(model),
          blocks_((scan.count + blockPoints - 1) / blockPoints),
          partial_(static_cast<std::size_t>(blocks_)),
          stacks_(map.index().searchDepth() * static_cast<std::size_t>(maxThreads())) {}

    // The sums at `pose`.
    Sums evaluate(const Pose& pose, bool derivatives) {
        Sums* partial = partial_.data();
        forEachBlock(pose, [&](std::int32_t b, std::int32_t begin, std::int32_t end, const Placement& at,
                               PointIndex::Pending* stack) {
            Sums sums;
            double previous = 0.0;  // the last point's Gaussian in this block, 0 for none
            for (std::int32_t i = begin; i < end; ++i) {
                double r[3], q[3];
                if (!at.place(i, r, q)) continue;
                double squared, number;
                NearestSet<1> set(&squared, &number, 1);
                // Consecutive points of a scan mostly share their nearest
                // mean: starting from the last one's bounds the search at
                // once. The nearest distance stays exact; of equal ones the
                // start is kept, the same at any thread count, as blocks
                // are fixed.
                if (previous != 0.0) {
                    const double* mean = map_.gaussian(previous).mean;
                    const double start = squaredDistance(q, mean[0], mean[1], mean[2]);
                    if (start < set.worst()) set.add(start, previous);
                }
                map_.index().findNeighbors(set, q, stack);
                // Empty where every squared distance overflows.
                if (set.size() == 0) continue;
                scoreCandidate(r, q, map_.gaussian(number), derivatives, sums);
                previous = number;
            }
            partial[b] = sums;
        });
        Sums total;
        for (std::int32_t b = 0; b < blocks_; ++b) total.add(partial[b], derivatives);
        return total;
    }

    // For each scan row, the smallest Mahalanobis distance at `pose` to its
    // three nearest Gaussians under the gate's kernel: NaN for a row left
    // out, or where every candidate's distance is NaN.
    void distances(const Pose& pose, double* out) {
        forEachBlock(pose, [&](std::int32_t, std::int32_t begin, std::int32_t end, const Placement& at,
                               PointIndex::Pending* stack) {
            for (std::int32_t i = begin; i < end; ++i) {
                double r[3], q[3];
                float best = std::numeric_limits<float>::quiet_NaN();
                if (at.place(i, r, q)) {
                    double squared[reportedCandidates], numbers[reportedCandidates];
                    NearestSet<reportedCandidates> set(squared, numbers, reportedCandidates);
                    map_.index().findNeighbors(set, q, stack);
                    for (std::int32_t c = 0; c < set.size(); ++c) {
                        const MapGaussian& g = map_.gaussian(numbers[c]);
                        const float distance = mahalanobisDistance(vectorFrom(q), g.floatMean, g.floatInverse);
                        if (distance < best || best != best) best = distance;
                    }
                }
                out[i] = best;
            }
        });
    }

private:
    // Scan rows under one pose: r = R p, the point turned about the pose's
    // translation, and q = r + t; false for a row left out.
    struct Placement {
        const QueryRows& scan;
        double R[9];
        const double* t;

        bool place(std::int32_t i, double* r, double* q) const {
            double p[3];
            scan.load(i, p);
            if (!finiteRow(p)) return false;
            for (int d = 0; d < 3; ++d) {
                r[d] = (R[d] * p[0] + R[d + 3] * p[1]) + R[d + 6] * p[2];
                q[d] = r[d] + t[d];
            }
            return true;
        }
    };

    // visit(block, begin, end, placement, stack) for every block of rows,
    // the blocks spread over the threads.
    template <class Visit>
    void forEachBlock(const Pose& pose, const Visit& visit) {
        Placement at{scan_, {}, pose.translation};
        pose.rotation(at.R);
        const std::size_t depth = map_.index().searchDepth();
        PointIndex::Pending* stacks = stacks_.data();
        const std::int32_t blocks = blocks_, count = scan_.count;
#pragma omp parallel
        {
            PointIndex::Pending* stack = stacks + depth * static_cast<std::size_t>(threadNumber());
#pragma omp for schedule(dynamic, 1)
            for (std::int32_t b = 0; b < blocks; ++b)
                visit(b, b * blockPoints, std::min(count, (b + 1) * blockPoints), at, stack);
        }
    }

    // One point against one Gaussian; see the header for the score. With x
    // = q - mean, y_k = a_k . x, m = sum y_k^2 and J = dq/dmotion =
    // [I, -[r]x], so that b_k = J' a_k = (a_k, r x a_k) and the gradient of
    // m / 2 is g = sum y_k b_k, the terms are (Magnusson 2009, eq. 6.12 and
    // 6.13 in these symbols):
    //   gradient_a  = w g_a,                              w = -d1 d2 e
    //   Hessian_ab  = w (sum_k b_ka b_kb + u . d2q/da db - d2 g_a g_b)
    // with u = sum y_k a_k, and d2q/dra drb = (e_b r_a + e_a r_b) / 2 -
    // r [a = b] for two rotations, 0 otherwise.
    void scoreCandidate(const double* r, const double* q, const MapGaussian& g, bool derivatives, Sums& sums) const {
        if (!g.scored) return;
        const double x[3] = {q[0] - g.mean[0], q[1] - g.mean[1], q[2] - g.mean[2]};
        double y[3];
        for (int k = 0; k < 3; ++k) y[k] = (g.axes[k][0] * x[0] + g.axes[k][1] * x[1]) + g.axes[k][2] * x[2];
        const double m = (y[0] * y[0] + y[1] * y[1]) + y[2] * y[2];
        const double e = portableExp(-0.5 * model_.d2 * m);
        // Nothing to add where e underflows, nor where m is NaN (a point
        // so far out that its offset overflows).
        if (!(e > 0.0)) return;
        sums.score += model_.d1 * e;
        if (!derivatives) return;

        double b[3][6], grad[6], u[3];
        for (int k = 0; k < 3; ++k) {
            const double* a = g.axes[k];
            b[k][0] = a[0];
            b[k][1] = a[1];
            b[k][2] = a[2];
            b[k][3] = r[1] * a[2] - r[2] * a[1];
            b[k][4] = r[2] * a[0] - r[0] * a[2];
            b[k][5] = r[0] * a[1] - r[1] * a[0];
        }
        for (int l = 0; l < 6; ++l) grad[l] = (y[0] * b[0][l] + y[1] * b[1][l]) + y[2] * b[2][l];
        for (int d = 0; d < 3; ++d) u[d] = grad[d];
        const double w = -model_.d1 * model_.d2 * e;
        // The definite model's curvature along g: d2 where the point lies
        // inside the Gaussian's inflection (d2 m <= 1), else 1 / m, which
        // keeps sum b b' - c g g' positive semidefinite (g g' <= m sum b b').
        const double flattened = model_.d2 * m <= 1.0 ? model_.d2 : 1.0 / m;
        const double ur = (u[0] * r[0] + u[1] * r[1]) + u[2] * r[2];
        int entry = 0;
        for (int k = 0; k < 6; ++k) {
            sums.gradient[k] += w * grad[k];
            for (int l = k; l < 6; ++l) {
                const double bb = (b[0][k] * b[0][l] + b[1][k] * b[1][l]) + b[2][k] * b[2][l];
                double h = bb;
                if (k >= 3) h += 0.5 * (u[l - 3] * r[k - 3] + u[k - 3] * r[l - 3]) - (k == l ? ur : 0.0);
                sums.hessian[entry] += w * (h - model_.d2 * grad[k] * grad[l]);
                sums.definite[entry++] += w * (bb - flattened * grad[k] * grad[l]);
            }
        }
    }

    const QueryRows& scan_;
    const RegistrationMap& map_;
    const ScoreModel& model_;
    std::int32_t blocks_;
    std::vector<Sums> partial_;
    std::vector<PointIndex::Pending> stacks_;
};

void unpack(const double* upper, double* H) {
    int entry = 0;
    for (int k = 0; k < 6; ++k)
        for (int l = k; l < 6; ++l) H[k + 6 * l] = H[l + 6 * k] = upper[entry++];
}

// Cholesky's factor of A + shift I into L (lower, column-major); false if
// the matrix is not positive definite to rounding.
bool cholesky(const double* A, double shift, double* L) {
    for (int j = 0; j < 6; ++j) {
        double diagonal = A[j + 6 * j] + shift;
        for (int k = 0; k < j; ++k) diagonal -= L[j + 6 * k] * L[j + 6 * k];
        if (!(diagonal > 0.0)) return false;
        L[j + 6 * j] = std::sqrt(diagonal);
        for (int i = j + 1; i < 6; ++i) {
            double v = A[i + 6 * j];
            for (int k = 0; k < j; ++k) v -= L[i + 6 * k] * L[j + 6 * k];
            L[i + 6 * j] = v / L[j + 6 * j];
        }
    }
    return true;
}

// The step -A^-1 g for A the Hessian H where H is positive definite: near
// the minimum, where Newton's method converges fastest. Elsewhere the score
// is not convex, and a Newton step shifted to a descent direction mostly
// follows the negative curvature; there A is the sum of w J'SJ alone, the
// part of H that weighs each point's Mahalanobis residual as Gauss and
// Newton would, positive semidefinite by construction, which pulls every
// point toward its Gaussians. Should that too be singular to rounding (a
// scan that pins no direction down), it is shifted by the smallest power of
// ten times 1e-12 of its largest diagonal entry that makes it definite.
// None when there is no information at all.
enum class StepKind { none, newton, model };

StepKind newtonStep(const double* H, const double* definite, const double* g, double* step) {
    double L[36] = {};
    StepKind kind = StepKind::newton;
    if (!cholesky(H, 0.0, L)) {
        kind = StepKind::model;
        double largest = 0.0;
        for (int k = 0; k < 6; ++k) largest = std::max(largest, std::fabs(definite[k + 6 * k]));
        if (!(largest > 0.0 && largest <= std::numeric_limits<double>::max())) return StepKind::none;
        double shift = 0.0;
        while (!cholesky(definite, shift, L)) {
            shift = shift == 0.0 ? 1e-12 * largest : 10.0 * shift;
            if (shift > largest) return StepKind::none;
        }
    }
    double y[6];
    for (int i = 0; i < 6; ++i) {
        double v = -g[i];
        for (int k = 0; k < i; ++k) v -= L[i + 6 * k] * y[k];
        y[i] = v / L[i + 6 * i];
    }
    for (int i = 5; i >= 0; --i) {
        double v = y[i];
        for (int k = i + 1; k < 6; ++k) v -= L[k + 6 * i] * step[k];
        step[i] = v / L[i + 6 * i];
    }
    return kind;
}

double norm3(const double* v) { return std::sqrt((v[0] * v[0] + v[1] * v[1]) + v[2] * v[2]); }

// q / |q| into `unit`.
void normalise(const double* q, double* unit) {
    const double length = std::sqrt((q[0] * q[0] + q[1] * q[1]) + (q[2] * q[2] + q[3] * q[3]));
    for (int k = 0; k < 4; ++k) unit[k] = q[k] / length;
}

}  // namespace

Pose Pose::fromMatrix(const double* M) {
    // Shepperd's method: from the largest of the four squared components,
    // each found from the trace and the diagonal, so no division is small.
    const double m00 = M[0], m11 = M[5], m22 = M[10];
    const double m10 = M[1], m20 = M[2], m01 = M[4], m21 = M[6], m02 = M[8], m12 = M[9];
    const double trace = (m00 + m11) + m22;
    double q[4];
    if (trace >= m00 && trace >= m11 && trace >= m22) {
        const double s = 2.0 * std::sqrt(1.0 + trace);
        q[0] = 0.25 * s;
        q[1] = (m21 - m12) / s;
        q[2] = (m02 - m20) / s;
        q[3] = (m10 - m01) / s;
    } else if (m00 >= m11 && m00 >= m22) {
        const double s = 2.0 * std::sqrt(1.0 + m00 - m11 - m22);
        q[0] = (m21 - m12) / s;
        q[1] = 0.25 * s;
        q[2] = (m01 + m10) / s;
        q[3] = (m02 + m20) / s;
    } else if (m11 >= m22) {
        const double s = 2.0 * std::sqrt(1.0 + m11 - m00 - m22);
        q[0] = (m02 - m20) / s;
        q[1] = (m01 + m10) / s;
        q[2] = 0.25 * s;
        q[3] = (m12 + m21) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + m22 - m00 - m11);
        q[0] = (m10 - m01) / s;
        q[1] = (m02 + m20) / s;
        q[2] = (m12 + m21) / s;
        q[3] = 0.25 * s;
    }
    Pose pose;
    normalise(q, pose.quaternion);
    for (int k = 0; k < 3; ++k) pose.translation[k] = M[12 + k];
    return pose;
}

// The rotation through the quaternion (1, r / 2), normalised, agrees with
// the exponential map to second order, so that the Hessian is the score's
// along it.
Pose Pose::moved(const double* step) const {
    const double* w = step + 3;
    double d[4] = {1.0, 0.5 * w[0], 0.5 * w[1], 0.5 * w[2]};
    const double* p = quaternion;
    double q[4] = {d[0] * p[0] - ((d[1] * p[1] + d[2] * p[2]) + d[3] * p[3]),
                   (d[0] * p[1] + d[1] * p[0]) + (d[2] * p[3] - d[3] * p[2]),
                   (d[0] * p[2] + d[2] * p[0]) + (d[3] * p[1] - d[1] * p[3]),
                   (d[0] * p[3] + d[3] * p[0]) + (d[1] * p[2] - d[2] * p[1])};
    Pose out;
    normalise(q, out.quaternion);
    for (int k = 0; k < 3; ++k) out.translation[k] = translation[k] + step[k];
    return out;
}

void Pose::rotation(double* R) const {
    const double w = quaternion[0], x = quaternion[1], y = quaternion[2], z = quaternion[3];
    R[0] = 1.0 - 2.0 * (y * y + z * z);
    R[1] = 2.0 * (x * y + w * z);
    R[2] = 2.0 * (x * z - w * y);
    R[3] = 2.0 * (x * y - w * z);
    R[4] = 1.0 - 2.0 * (x * x + z * z);
    R[5] = 2.0 * (y * z + w * x);
    R[6] = 2.0 * (x * z + w * y);
    R[7] = 2.0 * (y * z - w * x);
    R[8] = 1.0 - 2.0 * (x * x + y * y);
}

void Pose::toMatrix(double* M) const {
    double R[9];
    rotation(R);
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) M[r + 4 * c] = R[r + 3 * c];
        M[3 + 4 * c] = 0.0;
    }
    for (int r = 0; r < 3; ++r) M[12 + r] = translation[r];
    M[15] = 1.0;
}

bool isRigid(const double* M) {
    for (int k = 0; k < 16; ++k)
        if (!std::isfinite(M[k])) return false;
    if (M[3] != 0.0 || M[7] != 0.0 || M[11] != 0.0 || M[15] != 1.0) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double dot = (M[4 * i] * M[4 * j] + M[4 * i + 1] * M[4 * j + 1]) + M[4 * i + 2] * M[4 * j + 2];
            if (std::fabs(dot - (i == j ? 1.0 : 0.0)) > 1e-6) return false;
        }
    const double det = M[0] * (M[5] * M[10] - M[9] * M[6]) - M[4] * (M[1] * M[10] - M[9] * M[2]) +
                       M[8] * (M[1] * M[6] - M[5] * M[2]);
    return det > 0.0;
}

double registrationScore(const QueryRows& scan, const GaussianSet& map, const RegistrationOptions& options,
                         const Pose& pose, double* gradient, double* hessian) {
    const RegistrationMap prepared(map, options.eigenvalueFloor);
    const ScoreModel model(options.outlierRatio, options.voxelSize);
    ScanScorer scorer(scan, prepared, model);
    const Sums sums = scorer.evaluate(pose, true);
    std::copy(sums.gradient, sums.gradient + 6, gradient);
    unpack(sums.hessian, hessian);
    return sums.score;
}

// Where the step is the definite model's, not Newton's, it is often short
// of the minimum along its direction (the model's curvature exceeds the
// score's): a full step that was accepted is doubled while that lowers the
// score further, up to the caps above and this many times.
constexpr int maxDoublings = 3;

// The step's length and turn, scaled by `factor`, within the caps.
bool withinCaps(double length, double turn, double factor, double voxelSize) {
    return factor * length <= voxelSize && factor * turn <= maxRotationStep;
}

// Newton's method with a backtracking line search on Armijo's condition,
// each trial pose scored with its own candidates: every accepted step
// lowers the score the result reports. It stops when a step moves less
// than both tolerances (converged), when no step along the direction
// lowers the score (converged if the direction was already below the
// tolerances: the pose is the minimum to rounding), or after maxIterations
// steps. A scan that scores nothing at the start (no point near any
// Gaussian) stays where it is, not converged.
RegistrationResult registerToMap(const QueryRows& scan, const GaussianSet& map, const RegistrationOptions& options,
                                 double* distances) {
    const RegistrationMap prepared(map, options.eigenvalueFloor);
    const ScoreModel model(options.outlierRatio, options.voxelSize);
    ScanScorer scorer(scan, prepared, model);
    RegistrationResult result;
    result.pose = options.initial;
    Sums current = scorer.evaluate(result.pose, true);
    const auto below = [&](double length, double turn) {
        return length < options.translationTolerance && turn < options.rotationTolerance;
    };
    while (current.score != 0.0 && result.iterations < options.maxIterations) {
        double H[36], definite[36], step[6];
        unpack(current.hessian, H);
        unpack(current.definite, definite);
        const StepKind kind = newtonStep(H, definite, current.gradient, step);
        if (kind == StepKind::none) break;
        double length = norm3(step), turn = norm3(step + 3);
        const double cut = std::min({1.0, options.voxelSize / length, maxRotationStep / turn});
        for (double& s : step) s *= cut;
        length *= cut;
        turn *= cut;
        double slope = 0.0;
        for (int k = 0; k < 6; ++k) slope += current.gradient[k] * step[k];

        // The full step is scored with its derivatives, as it is mostly
        // the one taken; shorter and longer ones by their score alone, and
        // the one taken among them once more with its derivatives.
        const auto tryStep = [&](double factor, Sums& sums, bool derivatives) {
            double scaled[6];
            for (int k = 0; k < 6; ++k) scaled[k] = factor * step[k];
            const Pose pose = result.pose.moved(scaled);
            sums = scorer.evaluate(pose, derivatives);
            return pose;
        };
        double alpha = 1.0;
        Sums trial;
        Pose next = tryStep(alpha, trial, true);
        int halvings = 0;
        while (!(trial.score <= current.score + sufficientDecrease * alpha * slope) && halvings++ < maxHalvings) {
            alpha *= 0.5;
            next = tryStep(alpha, trial, false);
        }
        if (halvings > maxHalvings) {
            result.converged = below(length, turn);
            break;
        }
        for (int doubling = 0; kind == StepKind::model && alpha >= 1.0 && doubling < maxDoublings &&
                               withinCaps(length, turn, 2.0 * alpha, options.voxelSize);
             ++doubling) {
            Sums further;
            const Pose farther = tryStep(2.0 * alpha, further, false);
            if (!(further.score < trial.score)) break;
            alpha *= 2.0;
            next = farther;
            trial = further;
        }
        if (alpha != 1.0) trial = scorer.evaluate(next, true);
        result.pose = next;
        current = trial;
        ++result.iterations;
        if (below(alpha * length, alpha * turn)) {
            result.converged = true;
            break;
        }
    }
    result.score = current.score;
    unpack(current.hessian, result.hessian);
    if (distances != nullptr) scorer.distances(result.pose, distances);
    return result;
}

}  // namespace tessary
