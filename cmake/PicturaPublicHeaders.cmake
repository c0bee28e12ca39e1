# The public headers, installed as <pictura/X.h>, listed by the library they belong to. The libraries'
# sources (for AUTOMOC), the install rules, the header check (each compiles on its own as C++17) and the
# export checks all read these lists: a new public header is one line here.
set(PICTURA_PUBLIC_HEADERS_host
    Bitmap.h
    Controls.h
    Dialogs.h
    FileOutput.h
    Forms.h
    Image.h
    ImageLimits.h
    PackageDefinition.h
    Packages.h
    Picture.h
    PictureMetadata.h
    PixelFormat.h
    Registry.h
    Resources.h
    Round.h
    SysUtils.h
    Vcl40Export.h
)
set(PICTURA_PUBLIC_HEADERS_component
    FitinRange.h
    KvPictura.h
    OperationThreads.h
    PicturaPckExport.h
)
set(PICTURA_PUBLIC_HEADERS_package
    KvPicturaRegister.h
    PicturaPckResources.h
)

# pictura_public_headers(Part Out): the paths of the public headers of Part (host, component, package).
function(pictura_public_headers part out)
    list(TRANSFORM PICTURA_PUBLIC_HEADERS_${part} PREPEND ${PROJECT_SOURCE_DIR}/${part}/include/pictura/
         OUTPUT_VARIABLE paths)
    set(${out} ${paths} PARENT_SCOPE)
endfunction()
