// The core library's sources join this library as they are written.
