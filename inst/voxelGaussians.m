function [means, covs, counts] = voxelGaussians(X, voxelSize, varargin)
% voxelGaussians  A map of Gaussians: the mean and covariance of the points in each voxel.
%
%   [MEANS, COVS, COUNTS] = voxelGaussians(X, VOXELSIZE)
%   [MEANS, COVS, COUNTS] = voxelGaussians(X, VOXELSIZE, 'MinPoints', N)
%     X          M x 3 single or double, one point per row, or a pointCloud
%                (as PointCloudIndex takes it). Rows with a NaN or Inf
%                coordinate are left out.
%     VOXELSIZE  positive finite scalar: the side of the voxels of a grid
%                anchored at the origin; point p lies in voxel
%                floor(p / VOXELSIZE).
%     N          positive integer, default 6: only voxels with at least N
%                points are kept (a covariance of fewer is too poorly
%                determined to gate against).
%                The name as PointCloudIndex takes names: any case, a
%                leading part, a character vector or a string.
%     MEANS      G x 3 double: the average of each kept voxel's points, the
%                voxels in ascending order of their integer key (x, then
%                y, then z), as unique(floor(X / VOXELSIZE), 'rows') orders
%                them.
%     COVS       3 x 3 x G double: each voxel's covariance as cov gives it,
%                the sum of (p - mean)' * (p - mean) over its points
%                divided by n - 1 (by 1 when n = 1), computed from the
%                deviations, so that tight voxels far from the origin keep
%                their accuracy.
%     COUNTS     G x 1 double: each voxel's number of points.
%
%   The outputs feed PointCloudIndex(MEANS), gaussianGate and
%   gateAndCluster as they are. The voxels are computed on every core; the
%   result does not depend on how many. An empty cloud gives 0 x 3,
%   3 x 3 x 0 and 0 x 1.
%
%   Errors carry the identifiers voxelGaussians:badX, :badVoxelSize,
%   :badMinPoints, :badOption, :tooFewInputs and :keyOutOfRange (a voxel key
%   beyond +-2^62 on some axis).
%
% Example:
%   [means, covs] = voxelGaussians(reference, 2);
%   M = PointCloudIndex(means);
%   ids = knnsearch(M, scan, 'K', 3);
%   [in, inUpper, labels] = gateAndCluster(scan, ids, means, covs, 3, 5);
%
% See also PointCloudIndex, gaussianGate, gateAndCluster, densityClusters.
if nargin < 2
  error('voxelGaussians:tooFewInputs', 'voxelGaussians: call voxelGaussians(X, voxelSize)');
end
X = pointRows(X, 'voxelGaussians', 'X');
if ~(isnumeric(voxelSize) && isscalar(voxelSize) && isreal(voxelSize) && voxelSize > 0 && isfinite(voxelSize))
  error('voxelGaussians:badVoxelSize', 'voxelGaussians: voxelSize must be a positive finite scalar');
end
options = nameValueOptions(varargin, {'MinPoints'}, {6}, 'voxelGaussians', 'voxelGaussians');
minPoints = options.MinPoints;
if ~isCount(minPoints)
  error('voxelGaussians:badMinPoints', 'voxelGaussians: MinPoints must be a positive integer');
end
try
  [means, covs, counts] = tessary('do', zeros(1, 4, 'uint8'), 'voxelGaussians', X, double(voxelSize), double(minPoints));
catch err
  if ~strcmp(err.identifier, 'tessary:keyOutOfRange')
    rethrow(err);
  end
  error('voxelGaussians:keyOutOfRange', 'voxelGaussians: X / voxelSize must lie within +-2^62 on every axis');
end
covs = reshape(covs, 3, 3, []);
end
