# Two floors over a base folder, as src/CMakeLists.txt writes them: the
# cursor floor may include storage, storage may not include the cursor.
list(APPEND FLOORS storage)
set(FLOOR_DIRS_storage engine/storage)
set(FLOOR_ALLOWED_storage engine/storage engine/base)
set(FLOOR_CONTRACTS_storage)
list(APPEND FLOORS cursor)
set(FLOOR_DIRS_cursor engine/cursor)
set(FLOOR_ALLOWED_cursor engine/cursor engine/storage engine/base)
set(FLOOR_CONTRACTS_cursor)
