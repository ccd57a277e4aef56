// The OpenMP runtime's worker threads as the module file's own business.
#pragma once

namespace tessary {

// Called before the host unloads the module file. Ends and joins the worker
// threads of an OpenMP runtime that lives inside the module file, so that
// none of them is left running in code that is gone.
void stopWorkerThreads();

}  // namespace tessary
