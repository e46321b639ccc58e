#!/bin/sh
# Runs the horalin program named by HORALIN_VALGRIND_PROGRAM under valgrind's memory
# checker (HORALIN_VALGRIND, a full path: some tests run with a PATH of their own). An
# invalid access, a use of undefined memory or a block that nothing points to any more
# makes the exit status 99, which the end-to-end tests report as a wrong status.
exec "$HORALIN_VALGRIND" --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --trace-children=no "$HORALIN_VALGRIND_PROGRAM" "$@"
