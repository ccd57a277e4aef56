## P = pointCloud (xyz)
## A stand-in for MATLAB's pointCloud: its Location (M x 3, or M x N x 3 for
## an organised cloud) is all the users' layer reads of it.
classdef pointCloud
  properties
    Location
  end
  methods
    function obj = pointCloud (xyz)
      obj.Location = xyz;
    end
  end
end
