# The folders of the core (plain C++20, no Qt), lowest floor first. The main build makes one
# library of each; the fuzz build compiles them together with coverage instrumentation.
set(TESSEL_CORE_FLOORS model protocol log comm app nut)
