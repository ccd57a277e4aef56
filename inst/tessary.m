function varargout = tessary(varargin)
% tessary  Point index with exact K-nearest search, Gaussian gating and density clustering.
%
%   H = tessary ('init', PTS)
%     PTS  3 x N double, real, full, finite: one point (x; y; z) per column.
%          N = 0 is allowed.
%     H    1 x 4 uint8: handle of a new object holding a private copy of PTS
%          and a KD-tree over it (leaf size 10). Prints "kd size init: N".
%          Changing PTS afterwards changes nothing.
%
%   [IDX, D2] = tessary ('do', H, 'knnsearch', POINTS, K)
%     POINTS  3 x M double: query points, one per column.
%     K       double scalar, finite, 0 <= K < 2^31; truncated toward zero.
%     IDX     K x M double: column i holds the 1-based numbers (columns of
%             PTS) of the K indexed points nearest to query i, nearest
%             first. Among equal distances the point the tree search meets
%             first comes first.
%     D2      K x M double: their squared Euclidean distances.
%     Slots that no point fills (K > N, an empty index, a query with a NaN
%     coordinate) hold number 0 and distance Inf. K = 0 gives 0 x M outputs.
%     With K = 3, IDX over an index of Gaussian means is the IDS argument
%     of 'kd' and 'kd2': each point's three nearest Gaussians, nearest first.
%
%   [IN, INUPPER, LABELS] = tessary ('do', H, 'kd', POINTS, IDS, MEANS, COVS, MAHAL, MAHALUPPER)
%   IN = tessary ('do', H, 'kd2', POINTS, IDS, MEANS, COVS, MAHAL)
%     POINTS      3 x N double: query points.
%     IDS         3 x N' double, N' >= N: column i lists the 1-based numbers
%                 of point i's three candidate Gaussians, tried in row order.
%                 An entry is truncated toward zero after subtracting 1; an
%                 entry of 0 means "no candidate" and fails both gates.
%     MEANS       3 x G double: Gaussian means.
%     COVS        9 x G double: each column a 3x3 covariance, column-major;
%                 only its lower triangle is read.
%     MAHAL       double scalar: the strict gate.
%     MAHALUPPER  double scalar: the second gate ('kd' only).
%     The distance of a point to a Gaussian is the Mahalanobis distance in
%     single precision under the covariance whose eigenvalues below 1e-6
%     of the largest are raised to that floor. Comparisons are strict: a
%     distance equal to a threshold, or NaN, fails.
%     'kd2':  IN      1 x N logical: some candidate is below MAHAL.
%     'kd':   IN      1 x N logical: the first candidate that passes either
%                     gate passes MAHAL.
%             INUPPER 1 x N logical: some candidate passed either gate.
%             LABELS  1 x n double, n = sum (~IN): DBSCAN (minPts 5,
%                     eps 0.75, single precision) of the points with IN
%                     false, in column order: -2 for noise, else the
%                     cluster number 0, 1, ... in order of formation.
%     The object behind H is not read: the all-zero handle works too.
%     Fewer outputs may be requested; 'kd' clusters only when asked for
%     LABELS. Results do not depend on the number of threads.
%
%   [MEANS, COVS, COUNTS] = tessary ('do', H, 'voxelGaussians', X, VOXELSIZE, MINPOINTS)
%     X          M x 3 double: one point per row; rows with NaN or Inf are
%                left out.
%     VOXELSIZE  double scalar, positive and finite.
%     MINPOINTS  double scalar, a whole number from 1 to 2^31 - 1.
%     MEANS      G x 3 double, COVS 9 x G double (each column a 3x3
%                covariance, column-major, normalised by n - 1, or 1 for
%                n = 1), COUNTS G x 1 double: the voxels floor(p / VOXELSIZE)
%                holding at least MINPOINTS points, in ascending order of
%                their key (x, then y, then z). All three outputs are
%                required. This is voxelGaussians (help voxelGaussians)
%                without its checks and defaults.
%
%   [IDX, COREPTS] = tessary ('do', H, 'densityClusters', X, EPSILON, MINPTS)
%     X        M x 3 double: one point per row.
%     EPSILON  double scalar, positive and finite; MINPTS a whole number
%              from 1 to 2^31 - 1.
%     IDX      M x 1 double: DBSCAN in double precision as MATLAB's dbscan
%              labels it: -1 for noise, clusters 1, 2, ... in the order of
%              their lowest-numbered core point. COREPTS M x 1 logical.
%     See densityClusters (help densityClusters).
%     For both, the object behind H is not read: the all-zero handle works.
%
%   The users' layer's commands, points as the rows of M x 3 double:
%   [IDX, D] = tessary ('do', H, 'knnrows', Y, K, ROWS, INCLUDETIES)
%   [IDX, D] = tessary ('do', H, 'rangerows', Y, R, ROWS, SORTINDICES)
%     knnsearch and rangesearch of PointCloudIndex (help PointCloudIndex)
%     on the object behind H: IDX the rows of the cloud, D Euclidean
%     distances, equal distances by row. ROWS maps the index's point
%     numbers to rows of the caller's cloud (empty: every row indexed);
%     INCLUDETIES and SORTINDICES are 0 or 1. R is finite and at least 0.
%   [IN, INUPPER, LABELS] = tessary ('do', H, 'kdrows', POINTS, IDS, MEANS, COVS, MAHAL, MAHALUPPER)
%   IN = tessary ('do', H, 'kd2rows', POINTS, IDS, MEANS, COVS, MAHAL)
%     'kd' and 'kd2' on POINTS N x 3, IDS N x k (k <= 3), MEANS G x 3 and
%     COVS 9 x G; every output N x 1, LABELS one per point (0 where IN,
%     -1 for noise, clusters from 1). The object behind H is not read.
%
%   [T, CONVERGED, ITERATIONS, SCORE, HESSIAN, DISTANCES] = tessary ('do', H, 'registerToMap', SCAN, MEANS, COVS, T0, MAXITERATIONS, TTOL, RTOL, OUTLIERRATIO, VOXELSIZE, EIGENVALUEFLOOR)
%     registerToMap (help registerToMap) on SCAN M x 3, MEANS G x 3 (finite,
%     G >= 1) and COVS 9 x G (finite), from the rigid 4 x 4 T0: at most
%     MAXITERATIONS Newton steps, until a step moves less than TTOL (scan
%     units) and RTOL (radians); OUTLIERRATIO strictly between 0 and 1,
%     VOXELSIZE positive and finite, EIGENVALUEFLOOR from 1e-6 to 1.
%     CONVERGED is logical, DISTANCES M x 1. The object behind H is not
%     read.
%
%   OK = tessary ('delete', H)
%   OK = tessary ('do', H, 'DELETE')
%     Destroy the object; OK is logical true. Prints "kdTree deleted."
%     (with a line break for 'delete'). The all-zero handle destroys
%     nothing.
%
% Every live object holds one lock on the module (mislocked ('tessary')).
% A deleted, made-up or corvane handle is refused, and so is one kept from
% another session or an earlier load of the module (doc/commands.md).
%
% Errors, by identifier:
%   tessary:argumentMissing    no command, or no handle
%   tessary:notCommandString   the command is not a non-empty character row
%   tessary:wrongCommand       not 'init', 'do' or 'delete'
%   tessary:initOutputs        'init' without exactly one output
%   tessary:inputCount, tessary:tooFewInputs, tessary:outputCount
%                              wrong numbers of arguments
%   tessary:badHandle          a handle that is not 4 uint8 elements
%   tessary:deadHandle         a handle that names no live tessary object
%   tessary:unknownSubcommand  not 'knnsearch', 'kd', 'kd2', 'voxelGaussians',
%                              'densityClusters', 'knnrows', 'rangerows',
%                              'kdrows', 'kd2rows', 'registerToMap' or
%                              'DELETE'
%   tessary:wrongClass, tessary:complex, tessary:sparse, tessary:notMatrix,
%   tessary:tooLarge, tessary:rowCount, tessary:columnCount, tessary:notScalar
%                              an argument of the wrong class, kind or shape
%   tessary:notFinite          PTS, or the map of 'registerToMap', with NaN or Inf
%   tessary:outOfRange         K negative, not finite or too large
%   tessary:tooFewColumns      IDS with fewer columns than POINTS
%   tessary:columnMismatch     COVS and MEANS with different column counts
%   tessary:badCandidate       an IDS entry neither 0 nor a Gaussian number
%   tessary:tooManyColumns     IDS of the rows commands with more than 3 columns
%   tessary:notNonNegative     R negative or not finite
%   tessary:lengthMismatch     ROWS neither empty nor one per indexed point
%   tessary:notPositive        VOXELSIZE or EPSILON not positive and finite
%   tessary:notCount           MINPOINTS or MINPTS not a whole number >= 1
%   tessary:outsideRange       EPSILON below 1e-150 or above 1e150; OUTLIERRATIO
%                              or EIGENVALUEFLOOR outside their ranges
%   tessary:tooFewRows         MEANS of 'registerToMap' with no rows
%   tessary:notRigid           T0 not [R t; 0 0 0 1] with R a rotation to 1e-6
%   tessary:keyOutOfRange      X too far out for its voxels (beyond 2^62
%                              voxels) or for EPSILON (beyond 2^38 EPSILON)
%   tessary:resultTooLarge, tessary:outOfMemory, tessary:exception
%                              memory exhausted, or an error raised inside
%                              a library or the host
%
% Example:
%   pts = rand (3, 1000);
%   h = tessary ('init', pts);
%   [idx, d2] = tessary ('do', h, 'knnsearch', rand (3, 5), 3);
%   ok = tessary ('delete', h);
%
% This file holds the help text. Where the module file of this platform
% (tessary.mexw64, .mexa64, ...; see mexext) lies in the same folder,
% MATLAB and Octave call the module file instead: both give a MEX file
% precedence over an M-file of the same name in one folder
% (https://www.mathworks.com/help/matlab/matlab_prog/function-precedence-order.html).
% Without one, calling tessary raises tessary:noModule.
%
% See also corvane, PointCloudIndex, gaussianGate, gateAndCluster, voxelGaussians,
% densityClusters.
error('tessary:noModule', ['tessary: no module file tessary.%s for this platform is on the path; ' ...
      'run build to compile it, or add the folder that holds it'], mexext);
end
