# Stands in for a package tool that is not installed: the build says what to do.
message(FATAL_ERROR "${VELK_TOOL} is needed to build the sample and test packages: run scripts/setup")
