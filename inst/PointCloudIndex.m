classdef PointCloudIndex < handle
% PointCloudIndex  Exact K-nearest search over a private copy of a 3-D point cloud.
%
%   P = PointCloudIndex(PTS)
%     PTS  3 x N double, finite: one point per column. P owns one tessary
%          object; it is deleted when the last reference to P goes.
%
%   [IDX, D2] = knnsearch(P, POINTS, K)
%     POINTS  3 x M double; K double scalar.
%     IDX     K x M double: 1-based numbers of the K nearest points, nearest
%             first; D2 their squared distances. Unfilled slots: 0 and Inf.
%
%   numel(P)  the number of points N;  size(P)  [3 N];  disp(P)
%
% Errors are tessary's, with its identifiers (see help tessary).
%
% Example:
%   P = PointCloudIndex(rand(3, 1000));
%   [idx, d2] = knnsearch(P, rand(3, 5), 3);
%
% See also tessary, gaussianGate.

  properties (SetAccess = private)
    Count = 0;
  end

  properties (Access = private)
    Handle = [];
  end

  methods

    function obj = PointCloudIndex(pts)
      h = [];  % set by the call inside evalc, which keeps its printed line
      evalc('h = tessary(''init'', pts);');
      obj.Handle = h;
      obj.Count = size(pts, 2);
    end

    function [idx, d2] = knnsearch(obj, points, K)
      [idx, d2] = tessary('do', obj.Handle, 'knnsearch', points, K);
    end

    function delete(obj)
      if isempty(obj.Handle)
        return;  % construction failed: there is no object
      end
      h = obj.Handle;
      evalc('ok = tessary(''delete'', h);');
      obj.Handle = [];
    end

    function n = numel(obj, varargin)
      % With index arguments the host asks how many objects an indexing
      % expression yields: one.
      if nargin > 1
        n = 1;
      else
        n = obj.Count;
      end
    end

    function varargout = size(obj, d)
      s = [3, obj.Count];
      if nargin > 1
        varargout = {s(d)};
      elseif nargout <= 1
        varargout = {s};
      else
        varargout = num2cell(s);
      end
    end

    function disp(obj)
      fprintf('  PointCloudIndex of %d points\n', obj.Count);
    end

  end

end
