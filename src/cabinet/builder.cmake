# The cabinet builder writes through the project's own cabinet library.
target_link_libraries(ravelin_cabinet PUBLIC ravelin_fci)
