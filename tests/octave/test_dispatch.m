## The command protocol shared by both modules: command checks, handles,
## "delete" and "DELETE", and the module lock.

%!shared modules
%! modules = {"tessary", "corvane"};

%!test
%! for m = modules
%!   f = str2func (m{1});
%!   expect_error (@() f (), 0, [m{1} ":argumentMissing"], "Argument cmd missing.");
%!   bad = {5, ["ab"; "cd"], "", reshape("ab", 1, 1, 2), {"init"}, transpose("init")};
%!   for b = bad
%!     expect_error (@() f (b{1}), 0, [m{1} ":notCommandString"], ...
%!                   "Argument 0 (cmd) must be non-empty row character string.");
%!   endfor
%!   for c = {"INIT", "Init", "deletex", "do ", "de"}
%!     expect_error (@() f (c{1}, 1), 1, [m{1} ":wrongCommand"], ["Wrong command '" c{1} "'."]);
%!   endfor
%!   expect_error (@() f ("abcdefghijklmnopqrstuvwxy"), 0, [m{1} ":wrongCommand"], ...
%!                 "Wrong command 'abcdefghijklmnopqrs'.");
%!   ## A name that only starts like a command, up to an embedded zero, matches nothing.
%!   expect_error (@() f (["do" char(0) "x"]), 0, [m{1} ":wrongCommand"], "Wrong command 'do'.");
%! endfor

%!test
%! for m = modules
%!   f = str2func (m{1});
%!   expect_error (@() f ("init", zeros (3, 1)), 0, [m{1} ":initOutputs"], ...
%!                 "Exactly one output required during 'init'.");
%!   expect_error (@() f ("init", "bad", "inputs"), 2, [m{1} ":initOutputs"], ...
%!                 "Exactly one output required during 'init'.");
%!   expect_error (@() f ("init"), 1, [m{1} ":inputCount"], "There must be 2 input argument(s) (not 1).");
%!   expect_error (@() f ("init", zeros (3, 1), 1), 1, [m{1} ":inputCount"], ...
%!                 "There must be 2 input argument(s) (not 3).");
%!   assert (! mislocked (m{1}));
%! endfor

%!error id=tessary:initOutputs tessary ("init", zeros (3, 1))
%!error id=corvane:wrongCommand corvane ("Init", zeros (3, 1))
%!error id=tessary:badHandle tessary ("do", int8 ([1 2 3 4]), "x")
%!error id=corvane:badHandle corvane ("delete", uint8 ([1 2 3]))

%!test
%! for m = modules
%!   f = str2func (m{1});
%!   expect_error (@() f ("do"), 0, [m{1} ":argumentMissing"], "Argument handle missing.");
%!   expect_error (@() f ("delete"), 1, [m{1} ":argumentMissing"], "Argument handle missing.");
%!   msg = "Handle argument must be vector of 4 uint8 elements.";
%!   for bad = {int8([1 2 3 4]), uint8([1 2 3]), [1 2 3 4], uint16([1 2 3 4]), "abcd", {}}
%!     expect_error (@() f ("do", bad{1}, "x"), 0, [m{1} ":badHandle"], msg);
%!     ## The handle is checked before the input count.
%!     expect_error (@() f ("do", bad{1}), 0, [m{1} ":badHandle"], msg);
%!     expect_error (@() f ("delete", bad{1}), 1, [m{1} ":badHandle"], msg);
%!   endfor
%! endfor

%!test
%! for m = modules
%!   f = str2func (m{1});
%!   h = f ("init", rand (3, 5));
%!   assert (class (h), "uint8");
%!   assert (size (h), [1 4]);
%!   assert (mislocked (m{1}));
%!   expect_error (@() f ("do", h), 0, [m{1} ":tooFewInputs"], ...
%!                 "There must be at least 3 input argument(s) (not 2).");
%!   expect_error (@() f ("do", h, "delete"), 1, [m{1} ":unknownSubcommand"], "Unknown subcmd delete.");
%!   expect_error (@() f ("do", h, 42), 1, [m{1} ":unknownSubcommand"], "Unknown subcmd .");
%!   expect_error (@() f ("do", h, "DELETEabcdefghijklmnopq"), 1, [m{1} ":unknownSubcommand"], ...
%!                 "Unknown subcmd DELETEabcdefghijklm.");
%!   ## A 2x2 uint8 array carries the same four bytes and passes.
%!   expect_error (@() f ("do", reshape (h, 2, 2), "nope"), 1, [m{1} ":unknownSubcommand"], "Unknown subcmd nope.");
%!   ## Without an output the object and its lock stay.
%!   expect_error (@() f ("delete", h), 0, [m{1} ":outputCount"], "There must be 1 output argument(s) (not 0).");
%!   expect_error (@() f ("do", h, "DELETE"), 2, [m{1} ":outputCount"], "There must be 1 output argument(s) (not 2).");
%!   assert (mislocked (m{1}));
%!   out = evalc ("ok = f ('delete', h, 'ignored');");
%!   assert (out, "kdTree deleted.\n");
%!   assert (ok, true);
%!   assert (islogical (ok) && isscalar (ok));
%!   assert (! mislocked (m{1}));
%! endfor

%!test
%! ## "DELETE" destroys the object and unlocks exactly as "delete" does.
%! for m = modules
%!   f = str2func (m{1});
%!   h = f ("init", rand (3, 4));
%!   out = evalc ("ok = f ('do', h, 'DELETE', 5);");
%!   assert (out, "kdTree deleted.");
%!   assert (ok, true);
%!   assert (! mislocked (m{1}));
%!   expect_error (@() f ("do", h, "DELETE"), 1, [m{1} ":deadHandle"], ...
%!                 "Handle argument does not refer to a live object.");
%! endfor

%!test
%! ## The lock count follows the number of live objects.
%! for m = modules
%!   f = str2func (m{1});
%!   a = f ("init", rand (3, 4));
%!   b = f ("init", rand (3, 4));
%!   evalc ("ok = f ('delete', a);");
%!   assert (mislocked (m{1}));
%!   evalc ("ok = f ('do', b, 'DELETE');");
%!   assert (! mislocked (m{1}));
%! endfor

%!test
%! ## Stale, twice-deleted, made-up and foreign handles name no object.
%! msg = "Handle argument does not refer to a live object.";
%! t = tessary ("init", rand (3, 10));
%! c = corvane ("init", rand (3, 10));
%! expect_error (@() tessary ("delete", c), 1, "tessary:deadHandle", msg);
%! expect_error (@() corvane ("do", t, "DELETE"), 1, "corvane:deadHandle", msg);
%! expect_error (@() tessary ("do", c, "knnsearch", rand (3, 1), 1), 2, "tessary:deadHandle", msg);
%! made_up = t; made_up(1) = bitxor (made_up(1), 85);
%! expect_error (@() tessary ("do", made_up, "knnsearch", rand (3, 1), 1), 2, "tessary:deadHandle", msg);
%! expect_error (@() tessary ("delete", uint8 ([7 7 7 7])), 1, "tessary:deadHandle", msg);
%! evalc ("ok = tessary ('delete', t);");
%! evalc ("ok = corvane ('delete', c);");
%! for m = modules
%!   f = str2func (m{1});
%!   h = {t, c}{strcmp (m{1}, modules)};
%!   expect_error (@() f ("delete", h), 1, [m{1} ":deadHandle"], msg);
%!   expect_error (@() f ("delete", h), 1, [m{1} ":deadHandle"], msg);
%!   expect_error (@() f ("do", h, "DELETE"), 1, [m{1} ":deadHandle"], msg);
%! endfor
%! expect_error (@() tessary ("do", t, "knnsearch", rand (3, 1), 1), 2, "tessary:deadHandle", msg);
%! assert (! mislocked ("tessary") && ! mislocked ("corvane"));

%!test
%! ## The all-zero handle means "no object": both deletes print and return
%! ## true, destroy nothing and do not unlock.
%! for m = modules
%!   f = str2func (m{1});
%!   live = f ("init", rand (3, 2));
%!   out = evalc ("ok1 = f ('delete', uint8 ([0 0 0 0]));");
%!   assert (out, "kdTree deleted.\n");
%!   out = evalc ("ok2 = f ('do', zeros (2, 2, 'uint8'), 'DELETE');");
%!   assert (out, "kdTree deleted.");
%!   assert (ok1 && ok2);
%!   assert (mislocked (m{1}));
%!   evalc ("ok = f ('delete', live);");
%!   assert (! mislocked (m{1}));
%! endfor
%! expect_error (@() tessary ("do", uint8 ([0 0 0 0]), "knnsearch", rand (3, 1), 1), 2, ...
%!               "tessary:deadHandle", "Handle argument does not refer to a live object.");

%!test
%! ## A handle kept from another process or from an earlier load of the
%! ## module names nothing here, and the owner of the live object it might
%! ## have hit keeps it. Each load numbers its objects from a fresh serial.
%! msg = "Handle argument does not refer to a live object.";
%! saved = [tempname() ".mat"];
%! [status, out] = run_octave (sprintf (["evalc ('h = tessary (''init'', [0 0 0; 1 0 0]'');');\n" ...
%!                                       "save ('-mat', '%s', 'h');"], saved));
%! assert (status, 0, out);
%! other = load (saved);
%! delete (saved);
%! [status, out] = run_octave ("evalc ('h = tessary (''init'', zeros (3, 1));'); printf ('serial %d %d %d\\n', h(1:3));");
%! assert (status, 0, out);
%! mine = new_object ("tessary", [100; 0; 0]);
%! theirs = uint8 (sscanf (out(strfind (out, "serial"):end), "serial %d %d %d"))';
%! serials = {other.h(1:3), theirs, mine(1:3)};
%! assert (! isequal (serials{1}, serials{2}) && ! isequal (serials{1}, serials{3}) && ! isequal (serials{2}, serials{3}));
%! expect_error (@() tessary ("do", other.h, "knnsearch", [0; 0; 0], 1), 2, "tessary:deadHandle", msg);
%! expect_error (@() tessary ("delete", other.h), 1, "tessary:deadHandle", msg);
%! [idx, d2] = tessary ("do", mine, "knnsearch", [0; 0; 0], 1);
%! assert ([idx d2], [1 10000]);
%! free_object ("tessary", mine);
%! ## Two loads in one process. Within a load serials count up by one, so
%! ## a fresh load shows in a first object that does not continue the count.
%! serial = @(h) double (h(1:3)) * [1; 256; 65536];
%! clear tessary
%! first = new_object ("tessary", zeros (3, 1));
%! free_object ("tessary", first);
%! next = new_object ("tessary", zeros (3, 1));
%! free_object ("tessary", next);
%! assert (serial (next), mod (serial (first), 2^24 - 1) + 1);
%! clear tessary
%! second = new_object ("tessary", zeros (3, 1));
%! assert (serial (second) != serial (next) + 1 && serial (second) != serial (first));
%! expect_error (@() tessary ("delete", first), 1, "tessary:deadHandle", msg);
%! free_object ("tessary", second);
