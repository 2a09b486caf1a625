// A prebuilt launcher is the launcher library linked alone: its entry point and everything else
// come from the library. "kelvor-onefile build" writes the image data and the resources into a
// copy of it. (An executable needs one source of its own.)
