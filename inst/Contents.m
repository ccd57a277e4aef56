% tessary  Exact K-nearest search, Gaussian gating and density clustering of 3-D point clouds.
% Version 0.1.0
%
% Users' layer (points as rows)
%   voxelGaussians  - A map of Gaussians: each voxel's mean and covariance.
%   PointCloudIndex - KD-tree index of a point cloud; knnsearch on it.
%   gaussianGate    - Gate points against their candidate Gaussians.
%   gateAndCluster  - Gate at two levels and cluster the rejected points.
%   densityClusters - Density-based clustering (DBSCAN) of 3-D points.
%
% Modules (points as columns)
%   tessary         - The point index module and its command protocol.
%   corvane         - A placeholder module on the same protocol.
