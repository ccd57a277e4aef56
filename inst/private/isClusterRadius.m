function ok = isClusterRadius(value)
% isClusterRadius  Whether VALUE is a real scalar from 1e-150 to 1e150: the
% radii for which the clustering's rounded distance answers as geometry.
ok = isnumeric(value) && isscalar(value) && isreal(value) && value >= 1e-150 && value <= 1e150;
end
