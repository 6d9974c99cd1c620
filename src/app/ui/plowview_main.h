#pragma once

// The plowview program: parses the command line, then runs the window or the headless runner.
int PlowviewMain(int argc, char** argv);
