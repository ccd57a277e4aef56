## The users' layer (inst/, the demo, build.m) is written in the language
## MATLAB R2015b and Octave share: no construct that only Octave parses, and
## none that MATLAB gained after R2015b (those the text shows; implicit
## expansion does not show).

%!function code = without_text (line)
%!  ## The line with its strings blanked and its comment dropped. A quote
%!  ## right after a name, a closing bracket, a dot or a quote transposes.
%!  code = "";
%!  k = 1;
%!  while (k <= numel (line))
%!    c = line(k);
%!    if (c == "%")
%!      break;
%!    elseif (c == "'" && (k == 1 || ! any (line(k-1) == ["a":"z" "A":"Z" "0":"9" "_)]}.'"])))
%!      k++;
%!      while (k <= numel (line) && ! (line(k) == "'" && (k == numel (line) || line(k+1) != "'")))
%!        k += 1 + (line(k) == "'");
%!      endwhile
%!      code(end+1) = "s";
%!    else
%!      code(end+1) = c;
%!    endif
%!    k++;
%!  endwhile
%!endfunction

%!function found = octave_only (lines)
%!  patterns = {'"', "double-quoted string"; "#", "# comment"; "!", "! or !="; ...
%!              '\+\+|--|[-+*/^]=', "increment or compound assignment"; ...
%!              '\<end(function|if|for|while|switch|_try_catch|_unwind_protect|properties|methods|classdef|events|enumeration)\>', ...
%!              "endfunction and its kin"; '\<(unwind_protect|printf|puts|fputs|fdisp|columns|rows)\>', ...
%!              "Octave-only function"; '^\s*function\>[^(]*\([^)]*=', "default argument value"; ...
%!              '^\s*arguments\>', "arguments block"; ...
%!              ['\<(string|strings|isstring|strlength|contains|startsWith|endsWith|newline|join|split|' ...
%!               'compose|extractBefore|extractAfter|isfile|isfolder|height|width|vecnorm|maxk|mink|' ...
%!               'rmmissing|fillmissing|ismissing|mustBe\w*)\s*\('], "newer than R2015b"};
%!  found = {};
%!  for n = 1:numel (lines)
%!    code = without_text (lines{n});
%!    for p = 1:rows (patterns)
%!      if (! isempty (regexp (code, patterns{p, 1}, "once")))
%!        found{end+1} = sprintf ("%d: %s: %s", n, patterns{p, 2}, strtrim (lines{n}));
%!      endif
%!    endfor
%!  endfor
%!endfunction

%!test
%! ## The check finds each construct, and nothing in shared code.
%! bad = {"endif", "x = 1; # note", "s = ""text"";", "if (a != b)", "x += 1;", "k++;", ...
%!        "printf ('%d', 1);", "n = columns (x);", "function f (a = 1)", "unwind_protect", ...
%!        "  arguments", "s = string (x);", "if contains (a, 'b')", "fprintf ([s newline()])", "n = vecnorm (x, 2, 2);"};
%! good = {"a = b';", "s = 'it''s # 100%!';", "if x ~= y && ~z", "% a comment with ""quotes"", # and !", ...
%!         "c = {x', y.', 'a''b'};", "function [a, b] = f(x)", "fprintf('%d\n', n);", "end", ...
%!         "s = mystring (x);", "x = num2str (n);", "% string (x) in a comment"};
%! assert (numel (octave_only (bad)), numel (bad));
%! assert (octave_only (good), {});

%!test
%! root = fileparts (fileparts (fileparts (which ("test_dialect"))));
%! in = @(d) cellfun (@(f) fullfile (d, f), {dir(fullfile (d, "*.m")).name}, "UniformOutput", false);
%! files = [in(fullfile (root, "inst")), in(fullfile (root, "inst", "private")), ...
%!          {fullfile(root, "demo", "pipeline_demo.m"), fullfile(root, "build.m")}];
%! assert (numel (files) >= 12);
%! for f = files
%!   found = octave_only (strsplit (fileread (f{1}), "\n"));
%!   assert (isempty (found), "%s:\n  %s", f{1}, strjoin (found, "\n  "));
%! endfor
