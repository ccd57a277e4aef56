function [T, info] = registerToMap(scan, means, covs, varargin)
% registerToMap  Register a scan to a map of Gaussians (normal-distributions transform).
%
%   T = registerToMap(SCAN, MEANS, COVS)
%   [T, INFO] = registerToMap(SCAN, MEANS, COVS, Name, Value, ...)
%     SCAN   M x 3 single or double, one point per row, or a pointCloud
%            (as PointCloudIndex takes it). Rows with a NaN or Inf
%            coordinate are left out; at least 3 others are needed.
%     MEANS  G x 3, COVS the covariances in any form of gmdistribution's
%            Sigma (3 x 3 x G, 3 x 3, 1 x 3 x G or 1 x 3): the map, as
%            voxelGaussians gives it; finite, G >= 1.
%     T      4 x 4 double [R t; 0 0 0 1] mapping a scan point into the
%            map's frame, p_map = R * p + t (premultiply, the A of a
%            rigidtform3d): the pose that minimises the scan's NDT score.
%
%   Options (names as PointCloudIndex takes them: any case, an unambiguous
%   leading part, a character vector or a string):
%     'InitialTransform'  the start: a 4 x 4 [R t; 0 0 0 1] with R a
%                         rotation to 1e-6, or a rigidtform3d (anything
%                         with such an A property). Default eye(4). The
%                         method is local: start within about a voxel and
%                         10 degrees of the answer.
%     'MaxIterations'     positive integer, default 30: the most Newton
%                         steps.
%     'Tolerance'         [translation rotation], default [0.001 0.01]: the
%                         registration has converged once a step moves less
%                         than both (rotation in degrees, translation in the
%                         scan's units).
%     'OutlierRatio'      strictly between 0 and 1, default 0.55: the weight
%                         of the uniform density that the score mixes with
%                         each Gaussian (Magnusson's outlier model).
%     'VoxelSize'         positive, default the median distance from a mean
%                         to the nearest other one: the voxel side of the
%                         map, which sets that uniform density.
%     'EigenvalueFloor'   from 1e-6 to 1, default 0.01: each covariance's
%                         eigenvalues below this fraction of its largest are
%                         raised to it for the registration (1e-6 is the
%                         gate's floor). The gate's floor leaves a sparse
%                         lidar's rings as thin lines whose minimum lies
%                         off the true pose.
%
%     INFO   struct:
%       converged   logical: a step below the tolerance was reached, or
%                   none lowered the score further from a pose already
%                   within it. False after MaxIterations steps, and when
%                   no scan point is near any Gaussian (T is then the
%                   start).
%       iterations  the Newton steps taken.
%       score       the score at T: the sum over the points of
%                   d1 * exp(-d2 * m^2 / 2), m the Mahalanobis distance to
%                   the Gaussian of the nearest mean and d1 < 0 < d2 the
%                   outlier model's constants; lower is better.
%       hessian     6 x 6: the score's Hessian at T with respect to a
%                   motion [tx ty tz rx ry rz] (translations along the
%                   map's axes, rotations in radians about them through
%                   t). An eigenvector with a small eigenvalue is a motion
%                   the scene hardly pins down: a single plane leaves
%                   sliding along it and turning about its normal held only
%                   by the Gaussians' own extent in the plane, about 1/100
%                   of the stiffness across it.
%       distances   M x 1: for each row of SCAN, moved by T, the smallest
%                   Mahalanobis distance (not its square) to its three
%                   nearest Gaussians under the gate's covariances and
%                   kernel, as gaussianGate measures it; NaN for rows left
%                   out. distances < MAHAL is the gate without another
%                   search (up to the rounding of the moved points).
%
%   Newton's method with a line search, on every core; T and INFO are the
%   same bits at any number of threads and on every platform.
%
%   Errors carry the identifiers registerToMap:badScan, :tooFewPoints,
%   :badMeans, :emptyMap, :badCovs, :badInitialTransform, :badMaxIterations,
%   :badTolerance, :badOutlierRatio, :badVoxelSize, :badEigenvalueFloor,
%   :badOption and :tooFewInputs.
%
% Example:
%   [means, covs] = voxelGaussians(map, 1);
%   [T, info] = registerToMap(scan, means, covs, 'InitialTransform', odometry);
%   in = info.distances < 3;
%
% See also voxelGaussians, gaussianGate, PointCloudIndex.
if nargin < 3
  error('registerToMap:tooFewInputs', 'registerToMap: call registerToMap(scan, means, covs)');
end
scan = pointRows(scan, 'registerToMap', 'Scan');
if sum(all(isfinite(scan), 2)) < 3
  error('registerToMap:tooFewPoints', 'registerToMap: scan must have at least 3 rows without NaN or Inf');
end
means = pointRows(means, 'registerToMap', 'Means');
g = size(means, 1);
if g == 0
  error('registerToMap:emptyMap', 'registerToMap: the map has no Gaussians (means is 0 x 3)');
end
if ~all(isfinite(means(:)))
  error('registerToMap:badMeans', 'registerToMap: means must be finite');
end
covs = sigmaColumns(covs, g, 'registerToMap');
if ~all(isfinite(covs(:)))
  error('registerToMap:badCovs', 'registerToMap: covs must be finite');
end
o = nameValueOptions(varargin, {'InitialTransform', 'MaxIterations', 'Tolerance', 'OutlierRatio', 'VoxelSize', ...
                                'EigenvalueFloor'}, {eye(4), 30, [0.001 0.01], 0.55, [], 0.01}, ...
                     'registerToMap', 'registerToMap');
start = o.InitialTransform;
if isobject(start) && isprop(start, 'A')
  start = start.A;
end
if ~(isnumeric(start) && isreal(start) && isequal(size(start), [4 4]) && all(isfinite(start(:))) && ...
     isequal(start(4, :), [0 0 0 1]) && max(max(abs(start(1:3, 1:3)' * start(1:3, 1:3) - eye(3)))) <= 1e-6 && ...
     det(start(1:3, 1:3)) > 0)
  error('registerToMap:badInitialTransform', ...
        'registerToMap: InitialTransform must be a finite rigid transform [R t; 0 0 0 1], R a rotation');
end
if ~isCount(o.MaxIterations)
  error('registerToMap:badMaxIterations', 'registerToMap: MaxIterations must be a positive integer');
end
tolerance = o.Tolerance;
if ~(isnumeric(tolerance) && isreal(tolerance) && numel(tolerance) == 2 && all(tolerance >= 0) && ...
     all(isfinite(tolerance)))
  error('registerToMap:badTolerance', ...
        'registerToMap: Tolerance must be [translation rotation], both finite and at least 0');
end
ratio = o.OutlierRatio;
if ~(isnumeric(ratio) && isscalar(ratio) && isreal(ratio) && ratio > 0 && ratio < 1)
  error('registerToMap:badOutlierRatio', 'registerToMap: OutlierRatio must lie strictly between 0 and 1');
end
voxelSize = o.VoxelSize;
if isempty(voxelSize)
  voxelSize = typicalSpacing(means, covs);
end
if ~(isnumeric(voxelSize) && isscalar(voxelSize) && isreal(voxelSize) && voxelSize > 0 && isfinite(voxelSize))
  error('registerToMap:badVoxelSize', 'registerToMap: VoxelSize must be a positive finite scalar');
end
eigenFloor = o.EigenvalueFloor;
if ~(isnumeric(eigenFloor) && isscalar(eigenFloor) && isreal(eigenFloor) && eigenFloor >= 1e-6 && eigenFloor <= 1)
  error('registerToMap:badEigenvalueFloor', 'registerToMap: EigenvalueFloor must lie between 1e-6 and 1');
end
tolerance = double(tolerance);
args = {'do', zeros(1, 4, 'uint8'), 'registerToMap', scan, means, covs, double(start), double(o.MaxIterations), ...
        tolerance(1), tolerance(2) * pi / 180, double(ratio), double(voxelSize), double(eigenFloor)};
% The distances cost a search of every row more: only when INFO is asked for.
if nargout < 2
  T = tessary(args{:});
  return;
end
[T, converged, iterations, score, hessian, distances] = tessary(args{:});
info = struct('converged', converged, 'iterations', iterations, 'score', score, 'hessian', hessian, ...
              'distances', distances);
end

% The voxel side a map was most likely built with: the median distance
% from a mean to its nearest other mean, as the means of neighbouring
% voxels on a surface lie about a voxel apart. For one Gaussian, the side
% of the cube whose uniform density has its largest variance.
function s = typicalSpacing(means, covs)
if size(means, 1) == 1
  s = sqrt(12 * max(eig(reshape(covs, 3, 3))));
  return;
end
[~, D] = knnsearch(PointCloudIndex(means), means, 'K', 2);
s = median(D(:, 2));
end
