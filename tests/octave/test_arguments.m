## Argument checks of "init" (both modules) and of "knnsearch".

%!test
%! for m = {"tessary", "corvane"}
%!   f = str2func (m{1});
%!   id = @(s) [m{1} ":" s];
%!   expect_error (@() f ("init", single (rand (3, 4))), 1, id ("wrongClass"), "Argument pts must be of DOUBLE class");
%!   expect_error (@() f ("init", int32 (ones (3, 4))), 1, id ("wrongClass"), "Argument pts must be of DOUBLE class");
%!   expect_error (@() f ("init", {1}), 1, id ("wrongClass"), "Argument pts must be of DOUBLE class");
%!   expect_error (@() f ("init", rand (3, 4) + 1i), 1, id ("complex"), "Argument pts must not be complex.");
%!   expect_error (@() f ("init", sparse (rand (3, 4))), 1, id ("sparse"), "Argument pts must not be sparse.");
%!   expect_error (@() f ("init", rand (3, 4, 2)), 1, id ("notMatrix"), "Argument pts must be matrix");
%!   expect_error (@() f ("init", rand (2, 5)), 1, id ("rowCount"), "Argument pts must have 3 rows (not 2)");
%!   expect_error (@() f ("init", rand (4, 5)), 1, id ("rowCount"), "Argument pts must have 3 rows (not 4)");
%!   expect_error (@() f ("init", []), 1, id ("rowCount"), "Argument pts must have 3 rows (not 0)");
%!   ## Nothing was created by the failed calls.
%!   assert (! mislocked (m{1}));
%!   h = new_object (m{1}, zeros (3, 0));
%!   free_object (m{1}, h);
%! endfor

%!error id=tessary:sparse h = tessary ("init", sparse (3, 4));
%!error id=corvane:complex h = corvane ("init", complex (zeros (3, 1)));

%!test
%! ## A cloud with a NaN or Inf coordinate would make the tree return wrong neighbours.
%! pts = rand (3, 100);
%! for bad = [NaN, Inf, -Inf]
%!   q = pts; q(2, 7) = bad;
%!   expect_error (@() tessary ("init", q), 1, "tessary:notFinite", "Argument pts must not contain NaN or Inf.");
%! endfor
%! ## corvane drops its points and does not look at their values.
%! h = new_object ("corvane", [NaN; Inf; 1]);
%! free_object ("corvane", h);

%!test
%! h = new_object ("tessary", rand (3, 10));
%! knn = @(varargin) tessary ("do", h, "knnsearch", varargin{:});
%! expect_error (@() knn (rand (3, 1)), 2, "tessary:inputCount", "There must be 5 input argument(s) (not 4).");
%! expect_error (@() knn (rand (3, 1), 1, 1), 2, "tessary:inputCount", "There must be 5 input argument(s) (not 6).");
%! expect_error (@() knn (rand (2, 1), 1), 2, "tessary:rowCount", "Argument points must have 3 rows (not 2)");
%! expect_error (@() knn (single (rand (3, 1)), 1), 2, "tessary:wrongClass", "Argument points must be of DOUBLE class");
%! expect_error (@() knn (sparse (rand (3, 1)), 1), 2, "tessary:sparse", "Argument points must not be sparse.");
%! expect_error (@() knn (rand (3, 1), [3 4]), 2, "tessary:notScalar", "Argument K must be a scalar.");
%! expect_error (@() knn (rand (3, 1), []), 2, "tessary:notScalar", "Argument K must be a scalar.");
%! expect_error (@() knn (rand (3, 1), int32 (3)), 2, "tessary:wrongClass", "Argument K must be of DOUBLE class");
%! expect_error (@() knn (rand (3, 1), 3 + 1i), 2, "tessary:complex", "Argument K must not be complex.");
%! ## Complexity is checked before the element count.
%! expect_error (@() knn (rand (3, 1), [3+1i 4]), 2, "tessary:complex", "Argument K must not be complex.");
%! expect_error (@() knn (rand (3, 1), sparse (3)), 2, "tessary:sparse", "Argument K must not be sparse.");
%! for bad = [-1, -0.5, NaN, Inf, -Inf, 2^31]
%!   expect_error (@() knn (rand (3, 1), bad), 2, "tessary:outOfRange", ...
%!                 "Argument K must be finite and between 0 and 2147483647.");
%! endfor
%! ## Invalid inputs are reported before the output count.
%! expect_error (@() knn (rand (2, 1), 1), 1, "tessary:rowCount", "Argument points must have 3 rows (not 2)");
%! expect_error (@() knn (rand (3, 1), 1), 1, "tessary:outputCount", "There must be 2 output argument(s) (not 1).");
%! expect_error (@() knn (rand (3, 1), 1), 3, "tessary:outputCount", "There must be 2 output argument(s) (not 3).");
%! free_object ("tessary", h);

%!test
%! ## A result too large to allocate is an error, and the host lives on.
%! h = new_object ("tessary", rand (3, 10));
%! try
%!   [i, d] = tessary ("do", h, "knnsearch", zeros (3, 1e6), 1e8);
%!   error ("an impossible allocation succeeded");
%! catch err
%!   assert (any (strcmp (err.identifier, {"tessary:outOfMemory", "tessary:resultTooLarge", "tessary:exception"})), ...
%!           true, err.message);
%!   assert (isempty (strfind (err.message, "tessary: tessary:")));
%! end_try_catch
%! [i, d] = tessary ("do", h, "knnsearch", rand (3, 2), 1);
%! assert (size (i), [1 2]);
%! free_object ("tessary", h);
