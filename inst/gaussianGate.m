function in = gaussianGate(points, ids, means, covs, mahal)
% gaussianGate  Gate points against their candidate Gaussians.
%
%   IN = gaussianGate(POINTS, IDS, MEANS, COVS, MAHAL)
%     POINTS  N x 3 single or double: one point per row (or a pointCloud).
%     IDS     N x k, k <= 3: row i holds the candidate Gaussians of point i,
%             numbers of rows of MEANS, as IDS = knnsearch(PointCloudIndex(MEANS),
%             POINTS, 'K', 3) gives them. Missing columns and entries of 0
%             mean "no candidate".
%     MEANS   G x 3: Gaussian means, one per row.
%     COVS    their covariances in any form of gmdistribution's Sigma:
%             3 x 3 x G, or 3 x 3 shared by all; 1 x 3 x G diagonals, or
%             1 x 3 shared. Each form gives the results of its 3 x 3 x G
%             form; only the lower triangle of each covariance is read.
%     MAHAL   scalar threshold on the Mahalanobis distance itself, not
%             its square (MATLAB's mahal function returns the square).
%     IN      N x 1 logical: IN(i) is true when at least one candidate of
%             point i lies at a Mahalanobis distance below MAHAL.
%
%   The distance is computed in single precision under the covariance whose
%   eigenvalues below 1e-6 of the largest are raised to that floor;
%   comparisons are strict (a distance equal to MAHAL, or NaN, fails). The
%   points are gated on every core; the result does not depend on how many.
%   This is tessary's 'kd2' (help tessary) on rows.
%
%   Errors carry the identifiers gaussianGate:badPoints, :badIds, :badMeans,
%   :badCovs, :badMahal and :tooFewInputs.
%
% Example:
%   M = PointCloudIndex(means);
%   ids = knnsearch(M, points, 'K', 3);
%   in = gaussianGate(points, ids, means, covs, 3);
%
% See also gateAndCluster, PointCloudIndex, tessary.
if nargin < 5
  error('gaussianGate:tooFewInputs', 'gaussianGate: call gaussianGate(points, ids, means, covs, mahal)');
end
[points, ids, means, covs] = gateInputs('gaussianGate', points, ids, means, covs);
requireScalar(mahal, 'gaussianGate', 'mahal');
in = callGate('gaussianGate', 'kd2rows', points, ids, means, covs, double(mahal));
end
