# The organise window drives the file search engine.
if(TARGET ravelin_fileiterator)
  target_link_libraries(ravelin_tools PUBLIC ravelin_fileiterator)
endif()
