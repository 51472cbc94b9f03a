// The files of a grab (pictures, stylesheets, fonts and what the stylesheets name) fetched by
// a small pool of transfers at once. Names come from the plan when a reference is found, and
// stylesheets are read in plan order, so what lands in the work folder is the same whatever
// order the transfers finish in and however many run at once.
#pragma once

#include <cstdint>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"

class CGrabber;

// Fetches every pending file of the grabber's plan into folder and records each outcome in
// the plan, within the connection and size bounds of options. Runs on the grab's thread, which
// alone touches the plan, reports progress
// ("Loading images (<finished> of <known>)") and shows any password prompt. False when the
// progress callback asked to stop: every transfer is stopped and its partial file removed.
bool FetchPlanFiles(CGrabber& grabber, const std::string& folder, GrabJob& job,
                    const CGrabOptions& options);
