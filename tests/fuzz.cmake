# Replay of the fuzz targets' regression corpora (fuzz/corpus/<name>/).
include(${PROJECT_SOURCE_DIR}/fuzz/replay.cmake)
