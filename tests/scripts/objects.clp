; The shell's engine belongs to no component, so rules find no components
; there; they still make, inspect and free objects of the registered classes.
(get-component)
(get-class tpersistent)
(bind ?o (create-object (get-class TComponent)))
(get-properties ?o)
(set-property ?o Name "probe")
(get-property ?o Name)
(is-class ?o (get-class TPersistent))
(free-object ?o)
(is-class ?o (get-class TPersistent))
(printout t "after free: [" ?o "] [" (get-property ?o Name) "]" crlf)
