function ok = isCount(value)
% isCount  Whether VALUE is a real scalar holding a whole number from 1 to
% 2^31 - 1, as the modules take a count of points.
ok = isnumeric(value) && isscalar(value) && isreal(value) && value >= 1 && value == fix(value) && ...
     value <= intmax('int32');
end
