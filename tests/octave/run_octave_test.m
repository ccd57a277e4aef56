## Runs the %! blocks of one test script and exits with a non-zero status
## unless every block passed.  Arguments: the folder of the built modules and
## the name of the script.
args = argv ();
addpath (args{1});
addpath (fileparts (mfilename ("fullpath")));
[passed, total] = test (args{2}, "quiet", stdout);
printf ("%s: %d of %d blocks passed\n", args{2}, passed, total);
exit (double (total == 0 || passed != total));
