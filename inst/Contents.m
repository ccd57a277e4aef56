% tessary  Exact K-nearest search, scan registration, Gaussian gating and density clustering of 3-D point clouds.
% Version 0.1.0 10-Dec-2026
%
% Users' layer (points as rows)
%   voxelGaussians  - A map of Gaussians: each voxel's mean and covariance.
%   PointCloudIndex - KD-tree index of a point cloud, with the methods:
%     knnsearch     -   the K nearest indexed points of each query;
%     rangesearch   -   the indexed points within a radius of each query.
%   registerToMap   - Register a scan to a map of Gaussians (NDT).
%   gaussianGate    - Gate points against their candidate Gaussians.
%   gateAndCluster  - Gate at two levels and cluster the rejected points.
%   densityClusters - Density-based clustering (DBSCAN) of points in 1 to 3 dimensions.
%
% Modules (points as columns)
%   tessary         - The point index module and its command protocol.
%   corvane         - A placeholder module on the same protocol.
