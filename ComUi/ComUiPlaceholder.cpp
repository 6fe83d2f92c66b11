// The UI kit's sources join this library as they are written.
