# Build-time entry: cmake -DINPUT=... -DOUTPUT=... -DSYMBOL=... -P embed_run.cmake
include(${CMAKE_CURRENT_LIST_DIR}/embed.cmake)
kelm_embed_file(${INPUT} ${OUTPUT} ${SYMBOL} 0 "")
