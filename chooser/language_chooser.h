// The language chooser's start-up, event loop and end.
#pragma once

// Runs the language chooser; returns the exit code 0.
int run_language_chooser();
